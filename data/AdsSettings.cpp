#include "data/AdsTablePrivate.h"

using xbase::tabledetail::settings;

void TAdsSettings::Apply() const {
    settings() = *this;
}

const TAdsSettings& TAdsSettings::Current() {
    return settings();
}

std::string TAdsSettings::ShortDateFormat() {
    std::string f = settings().DateFormat;
    for (char& c : f)
        if (c == 'c' || c == 'C') c = 'y';
    return f;
}
