// FormatStr's formatter. Numbers go through the C library's formatter with
// the script's own flags, width and precision; strings are padded here so
// that their zero bytes survive.
#include "libs/string/format.h"

#include <cstdio>
#include <cstring>

#include "core/io/number_conv.h"

namespace {

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct FormatSpec {
    char text[kMaxFormatSpec + 1];  // "%", flags, width, precision, conversion
    size_t length;
    bool leftAlign;
    int width;
    int precision;  // -1 when absent
    char conversion;
};

// Reads one conversion starting at fmt[i] (the byte behind the "%").
// Returns false for three-digit widths or precisions, a missing conversion
// letter, or a conversion longer than kMaxFormatSpec.
bool ScanFormatSpec(std::string_view fmt, size_t* i, FormatSpec* spec)
{
    size_t start = *i - 1;
    size_t p = *i;
    spec->leftAlign = false;
    spec->width = 0;
    spec->precision = -1;
    while (p < fmt.size() && IsFlag(fmt[p])) {
        spec->leftAlign |= fmt[p] == '-';
        ++p;
    }
    for (int n = 0; p < fmt.size() && IsDigit(fmt[p]); ++n, ++p) {
        if (n == 2)
            return false;
        spec->width = spec->width * 10 + (fmt[p] - '0');
    }
    if (p < fmt.size() && fmt[p] == '.') {
        ++p;
        spec->precision = 0;
        for (int n = 0; p < fmt.size() && IsDigit(fmt[p]); ++n, ++p) {
            if (n == 2)
                return false;
            spec->precision = spec->precision * 10 + (fmt[p] - '0');
        }
    }
    if (p >= fmt.size())
        return false;
    size_t length = p + 1 - start;
    if (length > kMaxFormatSpec)
        return false;
    std::memcpy(spec->text, fmt.data() + start, length);
    spec->text[length] = 0;
    spec->length = length;
    spec->conversion = fmt[p];
    *i = p + 1;
    return true;
}

void AppendPaddedString(std::string* out, const FormatSpec& spec, std::string_view s)
{
    if (spec.precision >= 0 && s.size() > static_cast<size_t>(spec.precision))
        s = s.substr(0, static_cast<size_t>(spec.precision));
    size_t pad = spec.width > 0 && s.size() < static_cast<size_t>(spec.width) ? spec.width - s.size() : 0;
    if (!spec.leftAlign)
        out->append(pad, ' ');
    out->append(s);
    if (spec.leftAlign)
        out->append(pad, ' ');
}

} // namespace

void AddQuotedString(std::string* out, std::string_view s)
{
    out->push_back('"');
    for (char c : s) {
        if (c == 0) {
            out->append("\\000");
            continue;
        }
        if (c == '\n' || c == '"' || c == '\\')
            out->push_back('\\');
        out->push_back(c);
    }
    out->push_back('"');
}

ErrorCode FormatTemplate(std::string_view fmt, const FormatArgs& args, std::string* out)
{
    int arg = 1;
    size_t i = 0;
    char item[kFormatItemBuffer];
    while (i < fmt.size()) {
        size_t pct = fmt.find('%', i);
        if (pct == std::string_view::npos) {
            out->append(fmt.substr(i));
            break;
        }
        out->append(fmt.substr(i, pct - i));
        i = pct + 1;
        if (i < fmt.size() && fmt[i] == '%') {
            out->push_back('%');
            ++i;
            continue;
        }
        FormatSpec spec;
        if (!ScanFormatSpec(fmt, &i, &spec))
            return ERR_WRONGUSAGE;
        int n = -1;
        switch (spec.conversion) {
        case 'e': case 'E': case 'f': case 'g': case 'G':
            n = std::snprintf(item, sizeof item, spec.text, args.number(args.context, ++arg));
            break;
        case 'd': case 'i': case 'c':
            n = std::snprintf(item, sizeof item, spec.text,
                              static_cast<int>(static_cast<int32_t>(DoubleToLow32(args.number(args.context, ++arg)))));
            break;
        case 'o': case 'u': case 'x': case 'X':
            n = std::snprintf(item, sizeof item, spec.text,
                              static_cast<unsigned>(DoubleToLow32(args.number(args.context, ++arg))));
            break;
        case 's':
            AppendPaddedString(out, spec, args.string(args.context, ++arg));
            continue;
        case 'q':
            AddQuotedString(out, args.string(args.context, ++arg));
            continue;
        default:
            return ERR_WRONGUSAGE;
        }
        // The count, not the terminator, gives the length: "%c" of 0 is one
        // zero byte of text.
        if (n > 0)
            out->append(item, std::min(static_cast<size_t>(n), sizeof item - 1));
    }
    return ERR_NONE;
}
