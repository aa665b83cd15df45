// The expression evaluator: four small recursive functions, one per result
// type, reading values straight from the raw record bytes (see expr.cpp).
#include "common/Date.h"
#include "data/FieldForm.h"
#include "data/NumberText.h"
#include "data/expr_detail.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace xbase::exprdetail {

// ---------------------------------------------------------------------------
// Date helpers (declared in expr_detail.h)

void daysToYmd(int32_t days, int& year, int& month, int& day) {
    kes::civilFromDays(kEpochCivil + days, year, month, day);
}

// ---------------------------------------------------------------------------
// Evaluation

namespace {

inline void put(char* out, std::string_view s) {
    if (!s.empty()) std::memcpy(out, s.data(), s.size());
}

template <typename T> inline bool applyCmp(Cmp cmp, T a, T b) {
    switch (cmp) {
    case Cmp::Eq:
    case Cmp::Exact:
        return a == b;
    case Cmp::Ne:
        return a != b;
    case Cmp::Lt:
        return a < b;
    case Cmp::Le:
        return a <= b;
    case Cmp::Gt:
        return a > b;
    case Cmp::Ge:
        return a >= b;
    }
    return false;
}

inline bool compareKey(Cmp cmp, uint64_t v, uint64_t key) {
    return applyCmpResult(cmp, v < key ? -1 : v > key ? 1 : 0);
}

inline int32_t readDateField(const char* p) {
    int y, m, d;
    if (!readYmd(p, y, m, d)) return kNoDate;
    return ymdToDays(y, m, d);
}

inline int32_t dateOffset(int32_t date, double n) {
    if (date == kNoDate || !std::isfinite(n)) return kNoDate;
    const double r = static_cast<double>(date) + std::trunc(n);
    if (r < kFirstDay || r > kLastDay) return kNoDate;
    return static_cast<int32_t>(r);
}

} // namespace

std::string_view evalC(const Ctx& x, int32_t i) {
    const Node& n = x.nodes[i];
    switch (n.op) {
    case Op::CField:
        return {x.rec + n.off, n.len};
    case Op::CDtosField: {
        const char* p = x.rec + n.off;
        return validYmd(p) ? std::string_view(p, 8) : std::string_view(kBlanks, 8);
    }
    case Op::CLit:
        return {x.pool + n.off, n.len};
    case Op::CConcat: {
        std::string_view l = evalC(x, n.a), r = evalC(x, n.b);
        char* out = x.scratch + n.scratch;
        put(out, l);
        put(out + l.size(), r);
        return {out, l.size() + r.size()};
    }
    case Op::CConcatTrim: {
        std::string_view l = evalC(x, n.a), r = evalC(x, n.b);
        size_t kept = l.size();
        while (kept && l[kept - 1] == ' ')
            --kept;
        char* out = x.scratch + n.scratch;
        put(out, l.substr(0, kept));
        put(out + kept, r);
        std::memset(out + kept + r.size(), ' ', l.size() - kept);
        return {out, l.size() + r.size()};
    }
    case Op::CUpper:
    case Op::CLower: {
        std::string_view s = evalC(x, n.a);
        char* out = x.scratch + n.scratch;
        const char lo = n.op == Op::CUpper ? 'a' : 'A';
        for (size_t k = 0; k < s.size(); ++k) {
            char ch = s[k];
            if (static_cast<unsigned char>(ch - lo) < 26) ch = static_cast<char>(ch ^ 0x20);
            out[k] = ch;
        }
        return {out, s.size()};
    }
    case Op::CTrim: {
        std::string_view s = evalC(x, n.a);
        while (!s.empty() && s.back() == ' ')
            s.remove_suffix(1);
        return s;
    }
    case Op::CLTrim: {
        std::string_view s = evalC(x, n.a);
        while (!s.empty() && s.front() == ' ')
            s.remove_prefix(1);
        return s;
    }
    case Op::CAllTrim: {
        std::string_view s = evalC(x, n.a);
        while (!s.empty() && s.back() == ' ')
            s.remove_suffix(1);
        while (!s.empty() && s.front() == ' ')
            s.remove_prefix(1);
        return s;
    }
    case Op::CLeft: {
        std::string_view s = evalC(x, n.a);
        const double count = evalN(x, n.b);
        if (!(count >= 1)) return s.substr(0, 0);
        return count >= static_cast<double>(s.size()) ? s : s.substr(0, static_cast<size_t>(count));
    }
    case Op::CRight: {
        std::string_view s = evalC(x, n.a);
        const double count = evalN(x, n.b);
        if (!(count >= 1)) return s.substr(s.size());
        return count >= static_cast<double>(s.size())
                   ? s
                   : s.substr(s.size() - static_cast<size_t>(count));
    }
    case Op::CSubstr: {
        // Harbour: a start of 0 is 1, a negative start counts from the end.
        std::string_view s = evalC(x, n.a);
        const double size = static_cast<double>(s.size());
        double from = std::trunc(evalN(x, n.b));
        if (from > 0)
            from -= 1;
        else if (from < 0)
            from = std::max(0.0, from + size);
        else
            from = 0;
        if (!(from < size)) return s.substr(s.size());
        double count = size - from;
        if (n.c >= 0) count = std::min(count, std::trunc(evalN(x, n.c)));
        if (!(count >= 1)) return s.substr(s.size());
        return s.substr(static_cast<size_t>(from), static_cast<size_t>(count));
    }
    case Op::CStr: {
        const double v = evalN(x, n.a);
        int width = n.b >= 0 ? clampWidth(evalN(x, n.b)) : static_cast<int>(n.num);
        width = std::min<int>(width, static_cast<int>(n.len));
        const int decimals = n.c >= 0 ? clampDecimals(evalN(x, n.c)) : n.dec;
        char* out = x.scratch + n.scratch;
        formatNumberField(v, width, decimals, out);
        return {out, static_cast<size_t>(width)};
    }
    case Op::CDtos: {
        const int32_t date = evalD(x, n.a);
        if (date == kNoDate) return {kBlanks, 8};
        int y, m, d;
        daysToYmd(date, y, m, d);
        char* out = x.scratch + n.scratch;
        out[0] = static_cast<char>('0' + y / 1000);
        out[1] = static_cast<char>('0' + y / 100 % 10);
        out[2] = static_cast<char>('0' + y / 10 % 10);
        out[3] = static_cast<char>('0' + y % 10);
        out[4] = static_cast<char>('0' + m / 10);
        out[5] = static_cast<char>('0' + m % 10);
        out[6] = static_cast<char>('0' + d / 10);
        out[7] = static_cast<char>('0' + d % 10);
        return {out, 8};
    }
    case Op::CDtoc: {
        const int32_t date = evalD(x, n.a);
        char* out = x.scratch + n.scratch;
        if (date == kNoDate) {
            std::memcpy(out, "  /  /    ", 10);
            return {out, 10};
        }
        int y, m, d;
        daysToYmd(date, y, m, d);
        out[0] = static_cast<char>('0' + m / 10);
        out[1] = static_cast<char>('0' + m % 10);
        out[2] = '/';
        out[3] = static_cast<char>('0' + d / 10);
        out[4] = static_cast<char>('0' + d % 10);
        out[5] = '/';
        out[6] = static_cast<char>('0' + y / 1000);
        out[7] = static_cast<char>('0' + y / 100 % 10);
        out[8] = static_cast<char>('0' + y / 10 % 10);
        out[9] = static_cast<char>('0' + y % 10);
        return {out, 10};
    }
    case Op::CIif:
        return evalL(x, n.a) ? evalC(x, n.b) : evalC(x, n.c);
    default:
        return {};
    }
}

double evalN(const Ctx& x, int32_t i) {
    const Node& n = x.nodes[i];
    switch (n.op) {
    case Op::NField:
        return readNumberPrefix(x.rec + n.off, n.len);
    case Op::NFieldInt:
        return binaryNumber(FieldForm::Integer, x.rec + n.off);
    case Op::NFieldCur:
        return binaryNumber(FieldForm::Currency, x.rec + n.off);
    case Op::NFieldDouble:
        return binaryNumber(FieldForm::Double, x.rec + n.off);
    case Op::NLit:
        return n.num;
    case Op::NNeg:
        return -evalN(x, n.a);
    case Op::NAdd:
        return evalN(x, n.a) + evalN(x, n.b);
    case Op::NSub:
        return evalN(x, n.a) - evalN(x, n.b);
    case Op::NMul:
        return evalN(x, n.a) * evalN(x, n.b);
    case Op::NDiv: {
        const double l = evalN(x, n.a), r = evalN(x, n.b);
        return r == 0 ? 0 : l / r;
    }
    case Op::NVal: {
        std::string_view s = evalC(x, n.a);
        return readNumberPrefix(s.data(), s.size());
    }
    case Op::NRecno:
        return x.recno;
    case Op::NDateDiff: {
        const int32_t l = evalD(x, n.a), r = evalD(x, n.b);
        return l == kNoDate || r == kNoDate ? 0.0 : static_cast<double>(l) - r;
    }
    case Op::NLen:
        return static_cast<double>(evalC(x, n.a).size());
    case Op::NAt: {
        std::string_view needle = evalC(x, n.a), hay = evalC(x, n.b);
        if (needle.empty()) return 0;
        const size_t at = hay.find(needle);
        return at == std::string_view::npos ? 0.0 : static_cast<double>(at + 1);
    }
    case Op::NInt:
        return std::trunc(evalN(x, n.a));
    case Op::NAbs:
        return std::fabs(evalN(x, n.a));
    case Op::NYear:
    case Op::NMonth:
    case Op::NDay: {
        const int32_t date = evalD(x, n.a);
        if (date == kNoDate) return 0;
        int y, m, d;
        daysToYmd(date, y, m, d);
        return n.op == Op::NYear ? y : n.op == Op::NMonth ? m : d;
    }
    case Op::NIif:
        return evalL(x, n.a) ? evalN(x, n.b) : evalN(x, n.c);
    default:
        return 0;
    }
}

int32_t evalD(const Ctx& x, int32_t i) {
    const Node& n = x.nodes[i];
    switch (n.op) {
    case Op::DField:
        return readDateField(x.rec + n.off);
    case Op::DAddN:
        return dateOffset(evalD(x, n.a), evalN(x, n.b));
    case Op::DSubN:
        return dateOffset(evalD(x, n.a), -evalN(x, n.b));
    case Op::DStod: {
        std::string_view s = evalC(x, n.a);
        return s.size() >= 8 ? readDateField(s.data()) : kNoDate;
    }
    case Op::DCtod: {
        auto date = kes::Date::fromShortText(evalC(x, n.a));
        return date ? date->days() : kNoDate;
    }
    case Op::DLit:
        return n.date;
    case Op::DIif:
        return evalL(x, n.a) ? evalD(x, n.b) : evalD(x, n.c);
    default:
        return kNoDate;
    }
}

bool evalL(const Ctx& x, int32_t i) {
    const Node& n = x.nodes[i];
    switch (n.op) {
    case Op::LField: {
        const char ch = x.rec[n.off];
        return ch == 'T' || ch == 't' || ch == 'Y' || ch == 'y' || ch == '1';
    }
    case Op::LLit:
        return n.logical;
    case Op::LAnd:
        return evalL(x, n.a) && evalL(x, n.b);
    case Op::LOr:
        return evalL(x, n.a) || evalL(x, n.b);
    case Op::LNot:
        return !evalL(x, n.a);
    case Op::LCmpC: {
        const std::string_view l = evalC(x, n.a), r = evalC(x, n.b);
        if (n.cmp == Cmp::Exact)
            return l.size() == r.size() &&
                   (l.empty() || std::memcmp(l.data(), r.data(), l.size()) == 0);
        return applyCmpResult(n.cmp, compareText(l, r));
    }
    case Op::LCmpDtosLit: {
        const char* p = x.rec + n.off;
        if (!validYmd(p)) return n.logical; // an empty date: eight blanks against the literal
        return compareKey(n.cmp, loadBigEndian64(p), n.key);
    }
    case Op::LDtosRange: {
        const char* p = x.rec + n.off;
        if (!validYmd(p)) return n.logical;
        const uint64_t v = loadBigEndian64(p);
        return compareKey(n.cmp, v, n.key) & compareKey(n.cmp2, v, n.key2);
    }
    case Op::LCmpFieldLit: {
        const char* f = x.rec + n.off;
        const char* l = x.pool + n.off2;
        if (n.cmp == Cmp::Exact) return n.len == n.len2 && compareBytes(f, l, n.len) == 0;
        int r = compareBytes(f, l, std::min(n.len, n.len2));
        if (r == 0 && n.len < n.len2) r = -1;
        return applyCmpResult(n.cmp, r);
    }
    case Op::LCmpN:
        return applyCmp(n.cmp, evalN(x, n.a), evalN(x, n.b));
    case Op::LCmpD:
        return applyCmp(n.cmp, evalD(x, n.a), evalD(x, n.b));
    case Op::LCmpL:
        return applyCmp(n.cmp, evalL(x, n.a), evalL(x, n.b));
    case Op::LContains: {
        const std::string_view needle = evalC(x, n.a), hay = evalC(x, n.b);
        return !needle.empty() && hay.find(needle) != std::string_view::npos;
    }
    case Op::LEmptyC: {
        for (char ch : evalC(x, n.a))
            if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\n') return false;
        return true;
    }
    case Op::LEmptyN:
        return evalN(x, n.a) == 0;
    case Op::LEmptyD:
        return evalD(x, n.a) == kNoDate;
    case Op::LEmptyL:
        return !evalL(x, n.a);
    case Op::LDeleted:
        return x.rec[0] == static_cast<char>(dbfformat::kDeletedFlag);
    case Op::LIif:
        return evalL(x, n.a) ? evalL(x, n.b) : evalL(x, n.c);
    default:
        return false;
    }
}

} // namespace xbase::exprdetail
