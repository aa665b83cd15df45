#include "export/core/ProgressText.h"

#include "common/Clock.h"
#include "common/Date.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr int64_t kMsPerDay = 86400000;
} // namespace

std::string FormatKilobytes(double kilobytes, char groupSeparator, char decimalPoint) {
    long long tenths = std::llround(kilobytes * 10.0);
    bool negative = tenths < 0;
    unsigned long long t = negative ? 0ULL - static_cast<unsigned long long>(tenths)
                                    : static_cast<unsigned long long>(tenths);
    std::string whole = std::to_string(t / 10);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += groupSeparator;
        grouped += whole[i];
    }
    std::string text = negative ? "-" : "";
    text += grouped;
    text += decimalPoint;
    text += static_cast<char>('0' + t % 10);
    return text;
}

std::string FormatWholeNumber(double value) {
    if (!std::isfinite(value)) return "0";
    return std::to_string(std::llround(value));
}

std::string FormatTimeOfDay(int64_t milliseconds) {
    int64_t ms = milliseconds % kMsPerDay;
    if (ms < 0) ms += kMsPerDay;
    int64_t s = ms / 1000;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    return buf;
}

int64_t ClockMilliseconds() {
    kes::LocalTime t = kes::Clock::instance().now();
    auto d = kes::Date::fromYmd(t.year, t.month, t.day);
    int64_t days = d ? d->days() : 0;
    return days * kMsPerDay + ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

void ProgressTexts::Initialize(int mode, int basis, const std::string& fileName,
                               int64_t totalRecords, int64_t totalBytes, int64_t nowMs) {
    bytesDone_ = recordsDone_ = 0;
    Rate = 0;
    ElapsedSeconds = 0;
    Mode = mode;
    Basis = basis;
    totalRecords_ = totalRecords;
    totalBytes_ = totalBytes;
    startMs_ = nowMs;
    FileText = fileName;
    RecordsText = "0 of " + std::to_string(totalRecords);
    TimeText = "00:00:00 remaining";
    if (mode == 0) {
        Caption = "Import Progress";
        BytesText = "0K of " +
                    FormatKilobytes(static_cast<double>(totalBytes) / 1024.0, GroupSeparator,
                                    DecimalPoint) +
                    "K read";
    } else {
        Caption = "Export Progress";
        BytesText = "0K written";
    }
    PercentText = "0%";
    BarMaximum = total();
    BarPosition = 0;
}

double ProgressTexts::percentDone() const {
    // A total of 0 has no percentage; it reads as nothing done.
    if (total() <= 0) return 0;
    return static_cast<double>(amountDone()) / (static_cast<double>(total()) / 100.0);
}

std::string ProgressTexts::RemainingText(int64_t nowMs) const {
    std::string text = "00:00:00";
    double p = percentDone();
    if (amountDone() > 0 && p > 0) {
        double elapsed = static_cast<double>(nowMs - startMs_);
        double remaining = elapsed / p * (100.0 - p);
        if (std::isfinite(remaining) && remaining > 0)
            text = FormatTimeOfDay(static_cast<int64_t>(std::llround(remaining)));
    }
    return text + " remaining";
}

void ProgressTexts::UpdateProgress(int64_t recordsDone, int64_t bytesDone, int64_t nowMs) {
    int64_t span = (nowMs - startMs_) % kMsPerDay;
    if (span < 0) span += kMsPerDay;
    ElapsedSeconds = span / 1000;
    if (ElapsedSeconds <= 0) ElapsedSeconds = 1;
    recordsDone_ = recordsDone;
    bytesDone_ = bytesDone;
    const double kb = static_cast<double>(bytesDone) / 1024.0;
    Rate = kb / static_cast<double>(ElapsedSeconds);
    const std::string kbText = FormatKilobytes(kb, GroupSeparator, DecimalPoint);
    const std::string rateText = FormatKilobytes(Rate, GroupSeparator, DecimalPoint);
    if (Mode == 0) {
        RecordsText = std::to_string(recordsDone) + " records";
        BytesText = kbText + "K of " +
                    FormatKilobytes(static_cast<double>(totalBytes_) / 1024.0, GroupSeparator,
                                    DecimalPoint) +
                    "K read (" + rateText + "K/s)";
    } else {
        RecordsText =
            std::to_string(recordsDone) + " of " + std::to_string(totalRecords_) + " records";
        BytesText = kbText + "K written (" + rateText + "K/s)";
    }
    TimeText = RemainingText(nowMs);
    PercentText = FormatWholeNumber(percentDone()) + "%";
    BarPosition = amountDone();
}
