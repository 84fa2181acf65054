#include "message/msmimeutil.h"

#include "base/StrUtils.h"

#include <vector>

std::string BareFileName(std::string_view fileName) {
    const std::size_t sep = fileName.find_last_of("\\/:");
    return std::string(sep == std::string_view::npos ? fileName : fileName.substr(sep + 1));
}

std::string BareLowerName(std::string_view fileName) {
    return LowerCase(BareFileName(fileName));
}

bool BareNameStartsWith(std::string_view fileName, std::string_view prefix) {
    return BareLowerName(fileName).rfind(prefix, 0) == 0;
}

namespace {
// Splits a field value at the semicolons that stand outside double quotes.
std::vector<std::string_view> SplitParameters(std::string_view value) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && quoted) {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            parts.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(value.substr(start));
    return parts;
}

std::string_view ParameterName(std::string_view parameter) {
    return TrimView(parameter.substr(0, parameter.find('=')));
}
} // namespace

std::string ContentTypeWithout(std::string_view value,
                               std::initializer_list<std::string_view> params) {
    const std::vector<std::string_view> parts = SplitParameters(value);
    std::string result(TrimView(parts[0]));
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string_view parameter = TrimView(parts[i]);
        if (parameter.empty()) continue;
        bool drop = false;
        for (const std::string_view name : params)
            drop = drop || SameText(ParameterName(parameter), name);
        if (drop) continue;
        result += "; ";
        result += parameter;
    }
    return result;
}

std::string ShortContentType(std::string_view value) {
    if (value.size() <= kShortTextMax || !IsMultipartType(value)) return ShortText(value);
    const std::vector<std::string_view> parts = SplitParameters(value);
    std::string result(TrimView(parts[0]));
    std::vector<std::string_view> others;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string_view parameter = TrimView(parts[i]);
        if (SameText(ParameterName(parameter), "boundary"))
            result += "; " + std::string(parameter);
        else if (!parameter.empty())
            others.push_back(parameter);
    }
    for (const std::string_view parameter : others)
        if (result.size() + 2 + parameter.size() <= kShortTextMax)
            result += "; " + std::string(parameter);
    return result;
}

bool IsMultipartType(std::string_view contentType) {
    const std::string_view media = TrimView(contentType.substr(0, contentType.find_first_of(" ;")));
    return SameText(media, "multipart") || StartsText("multipart/", media);
}

void AppendWithCRLF(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t stop = text.find_first_of("\r\n", i);
        if (stop == std::string_view::npos) {
            out.append(text.substr(i));
            return;
        }
        out.append(text.substr(i, stop - i));
        out += "\r\n";
        i = stop + (text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n' ? 2 : 1);
    }
}
