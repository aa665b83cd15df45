// The expression parser: text to the compiled form of expr_detail.h, with the
// types checked and constant parts folded (see expr.cpp).
#include "common/CodePage.h"
#include "common/Date.h"
#include "data/Error.h"
#include "data/expr.h"
#include "data/NumberText.h"
#include "data/expr_detail.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace xbase {

using namespace exprdetail;

namespace exprdetail {

const char* typeName(ValueType t) {
    switch (t) {
    case ValueType::Character:
        return "character";
    case ValueType::Numeric:
        return "numeric";
    case ValueType::Date:
        return "date";
    case ValueType::Logical:
        return "logical";
    }
    return "?";
}

} // namespace exprdetail

namespace {

// ---------------------------------------------------------------------------
// Parsing

enum class Tk : uint8_t {
    End,
    Ident,
    Str,
    Num,
    True,
    False,
    LParen,
    RParen,
    Comma,
    Arrow,
    Plus,
    Minus,
    Star,
    Slash,
    Eq,
    EqEq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Dollar,
    And,
    Or,
    Not,
};

struct Token {
    Tk kind = Tk::End;
    size_t pos = 0; // byte offset of the first character
    size_t end = 0; // byte offset after the last character
    std::string_view text;
    double num = 0;
};

bool isIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isIdentChar(char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return r;
}

// Case-insensitive field lookup (dbf.cpp's findField may not be linked in yet).
int lookupField(const std::vector<FieldDef>& fields, std::string_view name) {
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i].name;
        if (f.size() != name.size()) continue;
        bool same = true;
        for (size_t k = 0; k < f.size() && same; ++k) {
            char a = f[k], b = name[k];
            if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
            if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
            same = a == b;
        }
        if (same) return static_cast<int>(i);
    }
    return -1;
}

class Parser {
  public:
    Parser(std::string_view text, const std::vector<FieldDef>& fields, kes::CodePage cp,
           Program& out)
        : text_(text), fields_(fields), cp_(cp), out_(out) {}

    int32_t parse() {
        advance();
        if (tok_.kind == Tk::End) fail(0, "the expression is empty");
        const int32_t root = parseOr();
        if (tok_.kind != Tk::End) unexpected();
        checkDepth();
        return root;
    }

  private:
    // ---- errors

    [[noreturn]] void fail(size_t bytePos, const std::string& what) const {
        // Position in characters (UTF-8 code points), one-based.
        size_t position = 1;
        for (size_t k = 0; k < bytePos && k < text_.size(); ++k)
            if ((static_cast<unsigned char>(text_[k]) & 0xC0) != 0x80) ++position;
        if (bytePos > text_.size()) ++position;
        throw EADSDatabaseError(AE_EXPRESSION_ERROR, "Error in expression \"" + std::string(text_) +
                                                         "\": " + what + " at position " +
                                                         std::to_string(position));
    }

    [[noreturn]] void unexpected() const {
        if (tok_.kind == Tk::End) fail(text_.size(), "unexpected end of expression");
        fail(tok_.pos,
             "unexpected \"" + std::string(text_.substr(tok_.pos, tok_.end - tok_.pos)) + "\"");
    }

    // Nesting limits keep the parser's and the evaluator's recursion far from
    // the stack's end whatever the text.
    static constexpr int kMaxNesting = 200; // parentheses, calls, unary operators
    static constexpr int kMaxDepth = 2000;  // depth of the compiled tree

    struct Nest {
        Parser& p;
        explicit Nest(Parser& parser) : p(parser) {
            if (++p.nesting_ > kMaxNesting)
                p.fail(p.tok_.pos, "the expression is nested too deeply");
        }
        ~Nest() { --p.nesting_; }
    };

    void checkDepth() const {
        std::vector<int> depth(out_.nodes.size(), 1);
        for (size_t i = 0; i < out_.nodes.size(); ++i) {
            const Node& n = out_.nodes[i];
            for (int32_t k : {n.a, n.b, n.c})
                if (k >= 0) depth[i] = std::max(depth[i], depth[static_cast<size_t>(k)] + 1);
            if (depth[i] > kMaxDepth) fail(n.pos, "the expression is too long to evaluate");
        }
    }

    // ---- tokens

    void advance() {
        size_t p = tok_.kind == Tk::End && tok_.end == 0 ? 0 : tok_.end;
        while (p < text_.size() &&
               (text_[p] == ' ' || text_[p] == '\t' || text_[p] == '\r' || text_[p] == '\n'))
            ++p;
        Token t;
        t.pos = p;
        auto finish = [&](Tk kind, size_t length) {
            t.kind = kind;
            t.end = p + length;
            t.text = text_.substr(p, length);
            tok_ = t;
        };
        if (p >= text_.size()) {
            t.kind = Tk::End;
            t.end = text_.size() + 1; // past the end: advance() stays at the end
            tok_ = t;
            return;
        }
        const char c = text_[p];
        const char next = p + 1 < text_.size() ? text_[p + 1] : '\0';
        if (isIdentStart(c)) {
            size_t e = p + 1;
            while (e < text_.size() && isIdentChar(text_[e]))
                ++e;
            return finish(Tk::Ident, e - p);
        }
        if (isDigit(c) || (c == '.' && isDigit(next))) {
            size_t e = p;
            while (e < text_.size() && isDigit(text_[e]))
                ++e;
            if (e + 1 < text_.size() && text_[e] == '.' && isDigit(text_[e + 1])) {
                ++e;
                while (e < text_.size() && isDigit(text_[e]))
                    ++e;
            }
            t.num = readNumberPrefix(text_.data() + p, e - p);
            return finish(Tk::Num, e - p);
        }
        if (c == '"' || c == '\'' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const size_t e = text_.find(close, p + 1);
            if (e == std::string_view::npos) fail(p, "unterminated string");
            finish(Tk::Str, e + 1 - p);
            tok_.text = text_.substr(p + 1, e - p - 1);
            return;
        }
        if (c == '.') {
            // .T. .F. .Y. .N. .AND. .OR. .NOT. in any case
            size_t e = p + 1;
            while (e < text_.size() && isIdentStart(text_[e]))
                ++e;
            if (e < text_.size() && text_[e] == '.' && e > p + 1) {
                const std::string word = upper(text_.substr(p + 1, e - p - 1));
                const size_t length = e + 1 - p;
                if (word == "T" || word == "Y") return finish(Tk::True, length);
                if (word == "F" || word == "N") return finish(Tk::False, length);
                if (word == "AND") return finish(Tk::And, length);
                if (word == "OR") return finish(Tk::Or, length);
                if (word == "NOT") return finish(Tk::Not, length);
            }
            fail(p, "unexpected \".\"");
        }
        switch (c) {
        case '(':
            return finish(Tk::LParen, 1);
        case ')':
            return finish(Tk::RParen, 1);
        case ',':
            return finish(Tk::Comma, 1);
        case '+':
            return finish(Tk::Plus, 1);
        case '-':
            return next == '>' ? finish(Tk::Arrow, 2) : finish(Tk::Minus, 1);
        case '*':
            return finish(Tk::Star, 1);
        case '/':
            return finish(Tk::Slash, 1);
        case '$':
            return finish(Tk::Dollar, 1);
        case '#':
            return finish(Tk::Ne, 1);
        case '=':
            return next == '=' ? finish(Tk::EqEq, 2) : finish(Tk::Eq, 1);
        case '!':
            return next == '=' ? finish(Tk::Ne, 2) : finish(Tk::Not, 1);
        case '<':
            if (next == '=') return finish(Tk::Le, 2);
            if (next == '>') return finish(Tk::Ne, 2);
            return finish(Tk::Lt, 1);
        case '>':
            return next == '=' ? finish(Tk::Ge, 2) : finish(Tk::Gt, 1);
        default:
            break;
        }
        size_t length = 1;
        while (p + length < text_.size() &&
               (static_cast<unsigned char>(text_[p + length]) & 0xC0) == 0x80)
            ++length;
        fail(p, "unexpected character \"" + std::string(text_.substr(p, length)) + "\"");
    }

    // ---- nodes

    int32_t add(Node n) {
        out_.nodes.push_back(n);
        return static_cast<int32_t>(out_.nodes.size() - 1);
    }
    const Node& node(int32_t i) const { return out_.nodes[static_cast<size_t>(i)]; }
    ValueType typeOf(int32_t i) const { return node(i).type; }

    int32_t make(Op op, ValueType type, uint32_t pos, int32_t a = -1, int32_t b = -1,
                 int32_t c = -1) {
        Node n;
        n.op = op;
        n.type = type;
        n.pos = pos;
        n.a = a;
        n.b = b;
        n.c = c;
        return add(n);
    }

    // A character node that writes `length` bytes of its own.
    int32_t withScratch(int32_t i, uint32_t length) {
        Node& n = out_.nodes[static_cast<size_t>(i)];
        n.len = length;
        n.scratch = out_.scratchSize;
        out_.scratchSize += length;
        return i;
    }

    int32_t literalText(std::string_view utf8, uint32_t pos) {
        const std::string bytes = kes::isAscii(utf8) ? std::string(utf8) : kes::fromUtf8(utf8, cp_);
        Node n;
        n.op = Op::CLit;
        n.type = ValueType::Character;
        n.pos = pos;
        n.off = static_cast<uint32_t>(out_.pool.size());
        n.len = static_cast<uint32_t>(bytes.size());
        out_.pool += bytes;
        return add(n);
    }

    int32_t literalNumber(double v, uint32_t pos) {
        Node n;
        n.op = Op::NLit;
        n.type = ValueType::Numeric;
        n.pos = pos;
        n.num = v;
        return add(n);
    }

    // ---- grammar

    int32_t parseOr() {
        const Nest nest(*this);
        int32_t left = parseAnd();
        while (tok_.kind == Tk::Or) {
            const Token op = tok_;
            advance();
            const int32_t right = parseAnd();
            needLogical(left, right, op, ".OR.");
            left = fold(make(Op::LOr, ValueType::Logical, node(left).pos, left, right));
        }
        return left;
    }

    int32_t parseAnd() {
        int32_t left = parseNot();
        while (tok_.kind == Tk::And) {
            const Token op = tok_;
            advance();
            const int32_t right = parseNot();
            needLogical(left, right, op, ".AND.");
            left = fold(fuseRange(make(Op::LAnd, ValueType::Logical, node(left).pos, left, right)));
        }
        return left;
    }

    void needLogical(int32_t left, int32_t right, const Token& op, const char* name) {
        for (int32_t side : {left, right})
            if (typeOf(side) != ValueType::Logical)
                fail(op.pos, std::string("type mismatch: ") + name +
                                 " needs logical operands, not " + typeName(typeOf(side)));
    }

    int32_t parseNot() {
        if (tok_.kind == Tk::Not) {
            const Nest nest(*this);
            const Token op = tok_;
            advance();
            const int32_t operand = parseNot();
            if (typeOf(operand) != ValueType::Logical)
                fail(op.pos, "type mismatch: \"" + std::string(op.text) +
                                 "\" needs a logical operand, not " + typeName(typeOf(operand)));
            return fold(make(Op::LNot, ValueType::Logical, static_cast<uint32_t>(op.pos), operand));
        }
        return parseRelational();
    }

    static bool isRelational(Tk k) {
        switch (k) {
        case Tk::Eq:
        case Tk::EqEq:
        case Tk::Ne:
        case Tk::Lt:
        case Tk::Le:
        case Tk::Gt:
        case Tk::Ge:
        case Tk::Dollar:
            return true;
        default:
            return false;
        }
    }

    int32_t parseRelational() {
        int32_t left = parseAdditive();
        while (isRelational(tok_.kind)) {
            const Token op = tok_;
            advance();
            const int32_t right = parseAdditive();
            const ValueType lt = typeOf(left), rt = typeOf(right);
            const std::string opText(op.text);
            if (op.kind == Tk::Dollar) {
                if (lt != ValueType::Character || rt != ValueType::Character)
                    fail(op.pos, "type mismatch: \"$\" needs character operands, not " +
                                     std::string(typeName(lt != ValueType::Character ? lt : rt)));
                left = fold(make(Op::LContains, ValueType::Logical, node(left).pos, left, right));
                continue;
            }
            if (lt != rt)
                fail(op.pos, "type mismatch: cannot compare " + std::string(typeName(lt)) +
                                 " with " + typeName(rt) + " (\"" + opText + "\")");
            Cmp cmp = Cmp::Eq;
            switch (op.kind) {
            case Tk::Eq:
                cmp = Cmp::Eq;
                break;
            case Tk::EqEq:
                cmp = Cmp::Exact;
                break;
            case Tk::Ne:
                cmp = Cmp::Ne;
                break;
            case Tk::Lt:
                cmp = Cmp::Lt;
                break;
            case Tk::Le:
                cmp = Cmp::Le;
                break;
            case Tk::Gt:
                cmp = Cmp::Gt;
                break;
            case Tk::Ge:
                cmp = Cmp::Ge;
                break;
            default:
                break;
            }
            Op opcode = Op::LCmpC;
            switch (lt) {
            case ValueType::Character:
                opcode = Op::LCmpC;
                break;
            case ValueType::Numeric:
                opcode = Op::LCmpN;
                break;
            case ValueType::Date:
                opcode = Op::LCmpD;
                break;
            case ValueType::Logical:
                if (cmp != Cmp::Eq && cmp != Cmp::Exact && cmp != Cmp::Ne)
                    fail(op.pos, "type mismatch: \"" + opText + "\" cannot compare logical values");
                opcode = Op::LCmpL;
                break;
            }
            left = fold(fuse(make(opcode, ValueType::Logical, node(left).pos, left, right), cmp));
        }
        return left;
    }

    // Comparisons the filters use all the time get a node of their own:
    // DTOS(<date field>) against an 8-byte literal, a character field against
    // a literal. Both read the record bytes directly.
    int32_t fuse(int32_t i, Cmp cmp) {
        Node& n = out_.nodes[static_cast<size_t>(i)];
        n.cmp = cmp;
        if (n.op != Op::LCmpC) return i;
        const Node& l = node(n.a);
        const Node& r = node(n.b);
        if (r.op != Op::CLit) return i;
        if (l.op == Op::CDtosField && r.len == 8) {
            const std::string_view literal(out_.pool.data() + r.off, 8);
            n.op = Op::LCmpDtosLit;
            n.off = l.off;
            n.key = loadBigEndian64(literal.data());
            if (cmp == Cmp::Exact) n.cmp = Cmp::Eq; // both sides have 8 bytes
            n.logical = applyCmpResult(n.cmp, compareText(std::string_view(kBlanks, 8), literal));
        } else if (l.op == Op::CField) {
            n.op = Op::LCmpFieldLit;
            n.off = l.off;
            n.len = l.len;
            n.off2 = r.off;
            n.len2 = r.len;
        }
        return i;
    }

    // (DTOS(f) >= "20040101") .AND. (DTOS(f) <= "20040331") in one node.
    int32_t fuseRange(int32_t i) {
        Node& n = out_.nodes[static_cast<size_t>(i)];
        const Node& l = node(n.a);
        const Node& r = node(n.b);
        if (l.op != Op::LCmpDtosLit || r.op != Op::LCmpDtosLit || l.off != r.off) return i;
        n.op = Op::LDtosRange;
        n.off = l.off;
        n.cmp = l.cmp;
        n.key = l.key;
        n.cmp2 = r.cmp;
        n.key2 = r.key;
        n.logical = l.logical && r.logical;
        return i;
    }

    static bool isLiteral(Op op) {
        return op == Op::CLit || op == Op::NLit || op == Op::DLit || op == Op::LLit;
    }

    // Constant folding: a node whose operands are all literals is evaluated
    // once, now, and becomes a literal itself ("a" + "b", STOD("20040101"),
    // -5). Nodes without operands (fields, RECNO(), DELETED()) stay.
    int32_t fold(int32_t i) {
        const Node n = node(i);
        if (n.a < 0) return i;
        for (int32_t k : {n.a, n.b, n.c})
            if (k >= 0 && !isLiteral(node(k).op)) return i;
        std::vector<char> scratch(out_.scratchSize + 1);
        const Ctx x{out_.nodes.data(), nullptr, out_.pool.data(), scratch.data(), 0};
        Node lit;
        lit.pos = n.pos;
        lit.type = n.type;
        switch (n.type) {
        case ValueType::Character: {
            const std::string bytes(evalC(x, i));
            lit.op = Op::CLit;
            lit.off = static_cast<uint32_t>(out_.pool.size());
            lit.len = static_cast<uint32_t>(bytes.size());
            out_.pool += bytes;
            break;
        }
        case ValueType::Numeric:
            lit.op = Op::NLit;
            lit.num = evalN(x, i);
            break;
        case ValueType::Date:
            lit.op = Op::DLit;
            lit.date = evalD(x, i);
            break;
        case ValueType::Logical:
            lit.op = Op::LLit;
            lit.logical = evalL(x, i);
            break;
        }
        out_.nodes[static_cast<size_t>(i)] = lit;
        return i;
    }

    int32_t parseAdditive() {
        int32_t left = parseMultiplicative();
        while (tok_.kind == Tk::Plus || tok_.kind == Tk::Minus) {
            const Token op = tok_;
            const bool plus = op.kind == Tk::Plus;
            advance();
            const int32_t right = parseMultiplicative();
            const ValueType lt = typeOf(left), rt = typeOf(right);
            const uint32_t pos = node(left).pos;
            if (lt == ValueType::Character && rt == ValueType::Character) {
                const uint32_t length = node(left).len + node(right).len;
                left = withScratch(make(plus ? Op::CConcat : Op::CConcatTrim, lt, pos, left, right),
                                   length);
            } else if (lt == ValueType::Numeric && rt == ValueType::Numeric) {
                left = make(plus ? Op::NAdd : Op::NSub, lt, pos, left, right);
            } else if (lt == ValueType::Date && rt == ValueType::Numeric) {
                left = make(plus ? Op::DAddN : Op::DSubN, ValueType::Date, pos, left, right);
            } else if (plus && lt == ValueType::Numeric && rt == ValueType::Date) {
                left = make(Op::DAddN, ValueType::Date, pos, right, left);
            } else if (!plus && lt == ValueType::Date && rt == ValueType::Date) {
                left = make(Op::NDateDiff, ValueType::Numeric, pos, left, right);
            } else {
                fail(op.pos, "type mismatch: cannot apply \"" + std::string(op.text) + "\" to " +
                                 typeName(lt) + " and " + typeName(rt));
            }
            left = fold(left);
        }
        return left;
    }

    int32_t parseMultiplicative() {
        int32_t left = parseUnary();
        while (tok_.kind == Tk::Star || tok_.kind == Tk::Slash) {
            const Token op = tok_;
            advance();
            const int32_t right = parseUnary();
            const ValueType lt = typeOf(left), rt = typeOf(right);
            if (lt != ValueType::Numeric || rt != ValueType::Numeric)
                fail(op.pos, "type mismatch: cannot apply \"" + std::string(op.text) + "\" to " +
                                 typeName(lt) + " and " + typeName(rt));
            left = fold(make(op.kind == Tk::Star ? Op::NMul : Op::NDiv, ValueType::Numeric,
                             node(left).pos, left, right));
        }
        return left;
    }

    int32_t parseUnary() {
        if (tok_.kind == Tk::Minus || tok_.kind == Tk::Plus) {
            const Nest nest(*this);
            const Token op = tok_;
            advance();
            const int32_t operand = parseUnary();
            if (typeOf(operand) != ValueType::Numeric)
                fail(op.pos, "type mismatch: unary \"" + std::string(op.text) +
                                 "\" needs a number, not " + typeName(typeOf(operand)));
            if (op.kind == Tk::Plus) return operand;
            return fold(make(Op::NNeg, ValueType::Numeric, static_cast<uint32_t>(op.pos), operand));
        }
        return parsePrimary();
    }

    int32_t parsePrimary() {
        const Token t = tok_;
        const auto pos = static_cast<uint32_t>(t.pos);
        switch (t.kind) {
        case Tk::Num:
            advance();
            return literalNumber(t.num, pos);
        case Tk::Str:
            advance();
            return literalText(t.text, pos);
        case Tk::True:
        case Tk::False: {
            advance();
            const int32_t i = make(Op::LLit, ValueType::Logical, pos);
            out_.nodes.back().logical = t.kind == Tk::True;
            return i;
        }
        case Tk::LParen: {
            advance();
            const int32_t inner = parseOr();
            if (tok_.kind != Tk::RParen) {
                if (tok_.kind == Tk::End) fail(text_.size(), "missing \")\"");
                unexpected();
            }
            advance();
            out_.nodes[static_cast<size_t>(inner)].pos = pos;
            return inner;
        }
        case Tk::Ident: {
            advance();
            if (tok_.kind == Tk::LParen) return parseCall(t);
            if (tok_.kind == Tk::Arrow) {
                const std::string alias = upper(t.text);
                if (alias != "FIELD" && alias != "_FIELD")
                    fail(t.pos, "unknown alias \"" + std::string(t.text) + "\"");
                advance();
                if (tok_.kind != Tk::Ident) unexpected();
                const Token name = tok_;
                advance();
                return fieldNode(name, pos);
            }
            return fieldNode(t, pos);
        }
        default:
            unexpected();
        }
    }

    int32_t fieldNode(const Token& t, uint32_t pos) {
        const int index = lookupField(fields_, t.text);
        if (index < 0) fail(t.pos, "unknown field \"" + std::string(t.text) + "\"");
        const FieldDef& f = fields_[static_cast<size_t>(index)];
        Node n;
        n.pos = pos;
        n.field = index;
        n.off = f.offset;
        n.len = f.length;
        auto badLength = [&](const char* need) {
            fail(t.pos, "field \"" + f.name + "\" of type " + std::string(1, f.type) +
                            " has length " + std::to_string(f.length) + ", not " + need);
        };
        switch (f.type) {
        case 'C':
            n.op = Op::CField;
            n.type = ValueType::Character;
            break;
        case 'N':
        case 'F':
            n.op = Op::NField;
            n.type = ValueType::Numeric;
            n.dec = f.decimals;
            break;
        case 'I':
        case '+':
            if (f.length != 4) badLength("4");
            n.op = Op::NFieldInt;
            n.type = ValueType::Numeric;
            break;
        case 'Y':
            if (f.length != 8) badLength("8");
            n.op = Op::NFieldCur;
            n.type = ValueType::Numeric;
            n.dec = 4;
            break;
        case 'B':
            // A double in Visual FoxPro tables; elsewhere a binary memo.
            if (f.form != FieldForm::Double)
                fail(t.pos, "field \"" + f.name + "\" has type B, which expressions cannot use");
            n.op = Op::NFieldDouble;
            n.type = ValueType::Numeric;
            n.dec = f.decimals;
            break;
        case 'D':
            if (f.length != 8) badLength("8");
            n.op = Op::DField;
            n.type = ValueType::Date;
            break;
        case 'L':
            if (f.length < 1) badLength("1");
            n.op = Op::LField;
            n.type = ValueType::Logical;
            break;
        default:
            fail(t.pos, "field \"" + f.name + "\" has type " + std::string(1, f.type) +
                            ", which expressions cannot use");
        }
        return add(n);
    }

    struct FunctionInfo {
        const char* name;
        int minArgs, maxArgs;
    };

    static const FunctionInfo* findFunction(const std::string& name) {
        static const FunctionInfo kFunctions[] = {
            {"DTOS", 1, 1}, {"DTOC", 1, 1},  {"UPPER", 1, 1},   {"LOWER", 1, 1},
            {"TRIM", 1, 1}, {"RTRIM", 1, 1}, {"LTRIM", 1, 1},   {"ALLTRIM", 1, 1},
            {"LEFT", 2, 2}, {"RIGHT", 2, 2}, {"SUBSTR", 2, 3},  {"STR", 1, 3},
            {"VAL", 1, 1},  {"EMPTY", 1, 1}, {"DELETED", 0, 0}, {"RECNO", 0, 0},
            {"IIF", 3, 3},  {"IF", 3, 3},    {"LEN", 1, 1},     {"AT", 2, 2},
            {"INT", 1, 1},  {"ABS", 1, 1},   {"YEAR", 1, 1},    {"MONTH", 1, 1},
            {"DAY", 1, 1},  {"STOD", 1, 1},  {"CTOD", 1, 1},
        };
        for (const auto& f : kFunctions)
            if (name == f.name) return &f;
        return nullptr;
    }

    int32_t parseCall(const Token& nameToken) {
        const std::string name = upper(nameToken.text);
        const FunctionInfo* info = findFunction(name);
        if (!info) fail(nameToken.pos, "unknown function \"" + std::string(nameToken.text) + "\"");
        advance(); // (
        std::vector<int32_t> args;
        if (tok_.kind != Tk::RParen) {
            for (;;) {
                args.push_back(parseOr());
                if (tok_.kind == Tk::Comma) {
                    advance();
                    continue;
                }
                if (tok_.kind == Tk::RParen) break;
                if (tok_.kind == Tk::End)
                    fail(text_.size(), "missing \")\" after the arguments of " + name);
                unexpected();
            }
        }
        advance(); // )
        const int count = static_cast<int>(args.size());
        if (count < info->minArgs || count > info->maxArgs) {
            std::string expected;
            if (info->maxArgs == 0)
                expected = "no arguments";
            else if (info->minArgs == info->maxArgs)
                expected = std::to_string(info->minArgs) +
                           (info->minArgs == 1 ? " argument" : " arguments");
            else if (info->maxArgs == info->minArgs + 1)
                expected = std::to_string(info->minArgs) + " or " + std::to_string(info->maxArgs) +
                           " arguments";
            else
                expected = std::to_string(info->minArgs) + " to " + std::to_string(info->maxArgs) +
                           " arguments";
            fail(nameToken.pos, name + " expects " + expected + ", got " + std::to_string(count));
        }
        return fold(buildCall(name, nameToken, args));
    }

    void needArg(const std::string& fn, const std::vector<int32_t>& args, size_t k, ValueType t) {
        const ValueType actual = typeOf(args[k]);
        if (actual != t)
            fail(node(args[k]).pos, "type mismatch: argument " + std::to_string(k + 1) + " of " +
                                        fn + " must be " + typeName(t) + ", not " +
                                        typeName(actual));
    }

    int32_t buildCall(const std::string& fn, const Token& nameToken,
                      const std::vector<int32_t>& args) {
        using VT = ValueType;
        const auto pos = static_cast<uint32_t>(nameToken.pos);
        auto arg = [&](size_t k) { return k < args.size() ? args[k] : -1; };
        auto need = [&](size_t k, VT t) { needArg(fn, args, k, t); };
        auto textFn = [&](Op op) { // character in, view of it out
            need(0, VT::Character);
            const int32_t i = make(op, VT::Character, pos, arg(0));
            out_.nodes.back().len = node(arg(0)).len;
            return i;
        };
        auto numFn = [&](Op op, VT in) {
            need(0, in);
            return make(op, VT::Numeric, pos, arg(0), arg(1));
        };

        if (fn == "DTOS") {
            need(0, VT::Date);
            if (node(arg(0)).op == Op::DField) {
                const Node& f = node(arg(0));
                Node n;
                n.op = Op::CDtosField;
                n.type = VT::Character;
                n.pos = pos;
                n.off = f.off;
                n.len = 8;
                n.a = arg(0);
                return add(n);
            }
            return withScratch(make(Op::CDtos, VT::Character, pos, arg(0)), 8);
        }
        if (fn == "DTOC") {
            need(0, VT::Date);
            return withScratch(make(Op::CDtoc, VT::Character, pos, arg(0)), 10);
        }
        if (fn == "UPPER" || fn == "LOWER") {
            need(0, VT::Character);
            return withScratch(
                make(fn == "UPPER" ? Op::CUpper : Op::CLower, VT::Character, pos, arg(0)),
                node(arg(0)).len);
        }
        if (fn == "TRIM" || fn == "RTRIM") return textFn(Op::CTrim);
        if (fn == "LTRIM") return textFn(Op::CLTrim);
        if (fn == "ALLTRIM") return textFn(Op::CAllTrim);
        if (fn == "LEFT" || fn == "RIGHT" || fn == "SUBSTR") {
            need(0, VT::Character);
            need(1, VT::Numeric);
            if (args.size() > 2) need(2, VT::Numeric);
            const Op op = fn == "LEFT" ? Op::CLeft : fn == "RIGHT" ? Op::CRight : Op::CSubstr;
            const int32_t i = make(op, VT::Character, pos, arg(0), arg(1), arg(2));
            out_.nodes.back().len = node(arg(0)).len;
            return i;
        }
        if (fn == "STR") {
            need(0, VT::Numeric);
            if (args.size() > 1) need(1, VT::Numeric);
            if (args.size() > 2) need(2, VT::Numeric);
            double width = 10;
            uint8_t decimals = 0;
            const Node& value = node(arg(0));
            if (args.size() == 1 && (value.op == Op::NField || value.op == Op::NFieldCur)) {
                // STR(<numeric field>): the field's own width and decimals.
                width = value.op == Op::NField ? value.len : 20;
                decimals = value.dec;
            }
            uint32_t longest = static_cast<uint32_t>(clampWidth(width));
            if (args.size() > 1)
                longest = node(arg(1)).op == Op::NLit
                              ? static_cast<uint32_t>(clampWidth(node(arg(1)).num))
                              : 255;
            const int32_t i = make(Op::CStr, VT::Character, pos, arg(0), arg(1), arg(2));
            out_.nodes.back().num = width;
            out_.nodes.back().dec = decimals;
            return withScratch(i, longest);
        }
        if (fn == "VAL") return numFn(Op::NVal, VT::Character);
        if (fn == "LEN") return numFn(Op::NLen, VT::Character);
        if (fn == "AT") {
            need(0, VT::Character);
            need(1, VT::Character);
            return make(Op::NAt, VT::Numeric, pos, arg(0), arg(1));
        }
        if (fn == "INT") return numFn(Op::NInt, VT::Numeric);
        if (fn == "ABS") return numFn(Op::NAbs, VT::Numeric);
        if (fn == "YEAR") return numFn(Op::NYear, VT::Date);
        if (fn == "MONTH") return numFn(Op::NMonth, VT::Date);
        if (fn == "DAY") return numFn(Op::NDay, VT::Date);
        if (fn == "STOD" || fn == "CTOD") {
            need(0, VT::Character);
            return make(fn == "STOD" ? Op::DStod : Op::DCtod, VT::Date, pos, arg(0));
        }
        if (fn == "EMPTY") {
            static constexpr Op kEmpty[] = {Op::LEmptyC, Op::LEmptyN, Op::LEmptyD, Op::LEmptyL};
            return make(kEmpty[static_cast<int>(typeOf(arg(0)))], VT::Logical, pos, arg(0));
        }
        if (fn == "DELETED") return make(Op::LDeleted, VT::Logical, pos);
        if (fn == "RECNO") return make(Op::NRecno, VT::Numeric, pos);
        if (fn == "IIF" || fn == "IF") {
            need(0, VT::Logical);
            const VT t = typeOf(arg(1)), e = typeOf(arg(2));
            if (t != e)
                fail(node(arg(2)).pos, "type mismatch: the branches of " + fn +
                                           " have different types (" + typeName(t) + " and " +
                                           typeName(e) + ")");
            static constexpr Op kIif[] = {Op::CIif, Op::NIif, Op::DIif, Op::LIif};
            const int32_t i = make(kIif[static_cast<int>(t)], t, pos, arg(0), arg(1), arg(2));
            if (t == VT::Character)
                out_.nodes.back().len = std::max(node(arg(1)).len, node(arg(2)).len);
            return i;
        }
        fail(nameToken.pos, "unknown function \"" + std::string(nameToken.text) + "\"");
    }

    std::string_view text_;
    const std::vector<FieldDef>& fields_;
    kes::CodePage cp_;
    Program& out_;
    Token tok_;
    int nesting_ = 0;
};

} // namespace

// ---------------------------------------------------------------------------
// Expression

Expression Expression::compile(std::string_view text, const std::vector<FieldDef>& fields,
                               kes::CodePage codePage) {
    auto impl = std::make_unique<Impl>();
    impl->text = std::string(text);
    Parser parser(impl->text, fields, codePage, *impl);
    impl->root = parser.parse();
    const Node& root = impl->nodes[static_cast<size_t>(impl->root)];
    impl->type = root.type;
    switch (root.op) {
    case Op::CField:
    case Op::NField:
    case Op::NFieldInt:
    case Op::NFieldCur:
    case Op::NFieldDouble:
    case Op::DField:
    case Op::LField:
        impl->singleField = root.field;
        break;
    default:
        break;
    }
    Expression e;
    e.impl_ = std::move(impl);
    return e;
}

} // namespace xbase
