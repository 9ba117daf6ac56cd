#include "search/characterreferences.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

// The named character references of HTML 4, and &apos;. The letters from
// U+00A0 to U+00FF come first, in code order.
constexpr const char *latin1Names[] = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf",
    "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro", "para",
    "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave", "Eacute", "Ecirc",
    "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve", "Oacute", "Ocirc",
    "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN",
    "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave",
    "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve",
    "oacute", "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml",
    "yacute", "thorn", "yuml"};
static_assert(std::size(latin1Names) == 0x100 - 0xA0);

struct NamedReference
{
    const char *name;
    char32_t code;
};

constexpr NamedReference otherNames[] = {
    {"quot", 34}, {"amp", 38}, {"apos", 39}, {"lt", 60}, {"gt", 62}, {"OElig", 338},
    {"oelig", 339}, {"Scaron", 352}, {"scaron", 353}, {"Yuml", 376}, {"fnof", 402}, {"circ", 710},
    {"tilde", 732}, {"Alpha", 913}, {"Beta", 914}, {"Gamma", 915}, {"Delta", 916}, {"Epsilon", 917},
    {"Zeta", 918}, {"Eta", 919}, {"Theta", 920}, {"Iota", 921}, {"Kappa", 922}, {"Lambda", 923},
    {"Mu", 924}, {"Nu", 925}, {"Xi", 926}, {"Omicron", 927}, {"Pi", 928}, {"Rho", 929},
    {"Sigma", 931}, {"Tau", 932}, {"Upsilon", 933}, {"Phi", 934}, {"Chi", 935}, {"Psi", 936},
    {"Omega", 937}, {"alpha", 945}, {"beta", 946}, {"gamma", 947}, {"delta", 948},
    {"epsilon", 949}, {"zeta", 950}, {"eta", 951}, {"theta", 952}, {"iota", 953}, {"kappa", 954},
    {"lambda", 955}, {"mu", 956}, {"nu", 957}, {"xi", 958}, {"omicron", 959}, {"pi", 960},
    {"rho", 961}, {"sigmaf", 962}, {"sigma", 963}, {"tau", 964}, {"upsilon", 965}, {"phi", 966},
    {"chi", 967}, {"psi", 968}, {"omega", 969}, {"thetasym", 977}, {"upsih", 978}, {"piv", 982},
    {"ensp", 8194}, {"emsp", 8195}, {"thinsp", 8201}, {"zwnj", 8204}, {"zwj", 8205}, {"lrm", 8206},
    {"rlm", 8207}, {"ndash", 8211}, {"mdash", 8212}, {"lsquo", 8216}, {"rsquo", 8217},
    {"sbquo", 8218}, {"ldquo", 8220}, {"rdquo", 8221}, {"bdquo", 8222}, {"dagger", 8224},
    {"Dagger", 8225}, {"bull", 8226}, {"hellip", 8230}, {"permil", 8240}, {"prime", 8242},
    {"Prime", 8243}, {"lsaquo", 8249}, {"rsaquo", 8250}, {"oline", 8254}, {"frasl", 8260},
    {"euro", 8364}, {"image", 8465}, {"weierp", 8472}, {"real", 8476}, {"trade", 8482},
    {"alefsym", 8501}, {"larr", 8592}, {"uarr", 8593}, {"rarr", 8594}, {"darr", 8595},
    {"harr", 8596}, {"crarr", 8629}, {"lArr", 8656}, {"uArr", 8657}, {"rArr", 8658}, {"dArr", 8659},
    {"hArr", 8660}, {"forall", 8704}, {"part", 8706}, {"exist", 8707}, {"empty", 8709},
    {"nabla", 8711}, {"isin", 8712}, {"notin", 8713}, {"ni", 8715}, {"prod", 8719}, {"sum", 8721},
    {"minus", 8722}, {"lowast", 8727}, {"radic", 8730}, {"prop", 8733}, {"infin", 8734},
    {"ang", 8736}, {"and", 8743}, {"or", 8744}, {"cap", 8745}, {"cup", 8746}, {"int", 8747},
    {"there4", 8756}, {"sim", 8764}, {"cong", 8773}, {"asymp", 8776}, {"ne", 8800},
    {"equiv", 8801}, {"le", 8804}, {"ge", 8805}, {"sub", 8834}, {"sup", 8835}, {"nsub", 8836},
    {"sube", 8838}, {"supe", 8839}, {"oplus", 8853}, {"otimes", 8855}, {"perp", 8869},
    {"sdot", 8901}, {"lceil", 8968}, {"rceil", 8969}, {"lfloor", 8970}, {"rfloor", 8971},
    {"lang", 9001}, {"rang", 9002}, {"loz", 9674}, {"spades", 9824}, {"clubs", 9827},
    {"hearts", 9829}, {"diams", 9830}};

// No known name is longer than this, so a name fits in one number.
constexpr qsizetype longestName = 8;

constexpr bool namesFit()
{
    for (const char *name : latin1Names)
        if (std::char_traits<char>::length(name) > longestName)
            return false;
    for (const NamedReference &named : otherNames)
        if (std::char_traits<char>::length(named.name) > longestName)
            return false;
    return true;
}
static_assert(namesFit());

// The characters of a name, one byte each, first the highest. Every name is
// ASCII letters and digits, so no two names share a key.
constexpr quint64 addToKey(quint64 key, char16_t c)
{
    return key << 8 | c;
}

quint64 nameKey(const char *name)
{
    quint64 key = 0;
    for (; *name; ++name)
        key = addToKey(key, char16_t(*name));
    return key;
}

struct KnownName
{
    quint64 key;
    char32_t code;
    bool operator<(const KnownName &other) const { return key < other.key; }
};

// All named references by key: a page full of "&" is looked up without a
// string compare per step.
const std::vector<KnownName> &namedReferences()
{
    static const std::vector<KnownName> names = [] {
        std::vector<KnownName> table;
        for (char32_t code = 0xA0; code <= 0xFF; ++code)
            table.push_back({nameKey(latin1Names[code - 0xA0]), code});
        for (const NamedReference &named : otherNames)
            table.push_back({nameKey(named.name), named.code});
        std::sort(table.begin(), table.end());
        return table;
    }();
    return names;
}

std::optional<char32_t> namedReference(quint64 key)
{
    const std::vector<KnownName> &names = namedReferences();
    const auto found = std::lower_bound(names.begin(), names.end(), KnownName{key, 0});
    if (found == names.end() || found->key != key)
        return std::nullopt;
    return found->code;
}

// What an ASCII character can be in a reference, looked up rather than
// compared range by range: references are read character by character.
enum CharClass : quint8 { Other = 0, Letter = 1, Digit = 2, HexLetter = 4 };

constexpr std::array<quint8, 128> asciiClasses = [] {
    std::array<quint8, 128> classes{};
    for (char16_t c = u'0'; c <= u'9'; ++c)
        classes[c] = Digit;
    for (char16_t c = u'a'; c <= u'z'; ++c)
        classes[c] = classes[c - u'a' + u'A'] = Letter;
    for (char16_t c = u'a'; c <= u'f'; ++c)
        classes[c] = classes[c - u'a' + u'A'] = Letter | HexLetter;
    return classes;
}();

quint8 charClass(QChar c)
{
    return c.unicode() < asciiClasses.size() ? asciiClasses[c.unicode()] : quint8(Other);
}

int digitValue(QChar c, int base)
{
    const quint8 kind = charClass(c);
    if (kind & Digit)
        return c.unicode() - u'0';
    if (base == 16 && (kind & HexLetter))
        return (c.unicode() | 0x20) - u'a' + 10;
    return -1;
}

// A numeric reference's digits from `at`; *end is where they stop. Values
// past the last code point stay one past it, so that no count of leading
// digits can overflow.
char32_t numberAt(QStringView text, qsizetype at, int base, qsizetype *end)
{
    constexpr char32_t pastLast = 0x110000;
    char32_t value = 0;
    for (int digit; at < text.size() && (digit = digitValue(text[at], base)) >= 0; ++at)
        value = qMin<char32_t>(value * char32_t(base) + char32_t(digit), pastLast);
    *end = at;
    return value;
}

// "&#" and decimal digits, or "&#x" and hex digits, then ";".
std::optional<char32_t> numericReferenceAt(QStringView text, qsizetype hash, qsizetype *end)
{
    const bool hex = hash + 1 < text.size() && (text[hash + 1] == u'x' || text[hash + 1] == u'X');
    const qsizetype digits = hash + (hex ? 2 : 1);
    qsizetype at = digits;
    const char32_t code = numberAt(text, digits, hex ? 16 : 10, &at);
    const bool character = code > 0 && code < 0x110000 && !(code >= 0xD800 && code <= 0xDFFF);
    if (at == digits || at >= text.size() || text[at] != u';' || !character)
        return std::nullopt;
    *end = at + 1;
    return code;
}

// A name of letters and digits that starts with a letter and ends in ";". No
// known name is longer than `longestName`, so the ";" is looked for first and
// most "&" of a page are passed over without reading their letters.
std::optional<char32_t> namedReferenceAt(QStringView text, qsizetype name, qsizetype *end)
{
    const QStringView rest = text.sliced(name);
    const qsizetype length = rest.first(qMin(rest.size(), longestName + 1)).indexOf(u';');
    if (length < 1 || !(charClass(rest.front()) & Letter))
        return std::nullopt;
    quint64 key = 0;
    for (const QChar c : rest.first(length)) {
        if (!(charClass(c) & (Letter | Digit)))
            return std::nullopt;
        key = addToKey(key, c.unicode());
    }
    const std::optional<char32_t> named = namedReference(key);
    if (named)
        *end = name + length + 1;
    return named;
}

} // namespace

std::optional<char32_t> characterReferenceAt(QStringView text, qsizetype amp, qsizetype *end)
{
    if (amp + 1 < text.size() && text[amp + 1] == u'#')
        return numericReferenceAt(text, amp + 1, end);
    return namedReferenceAt(text, amp + 1, end);
}

void appendDecodedReferences(QString &out, QStringView text)
{
    qsizetype from = 0;
    for (qsizetype amp = text.indexOf(u'&'); amp >= 0; amp = text.indexOf(u'&', from)) {
        out += text.sliced(from, amp - from);
        qsizetype end = amp + 1;
        if (const std::optional<char32_t> code = characterReferenceAt(text, amp, &end))
            out += QChar::fromUcs4(*code);
        else
            out += u'&';
        from = end;
    }
    out += text.sliced(from);
}
