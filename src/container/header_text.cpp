#include "container/header_text.h"

#include <cerrno>
#include <cstdlib>

std::vector<std::string> splitWords(const std::string& text, bool groupParentheses) {
    std::vector<std::string> out;
    std::string word;
    int depth = 0;
    for (char c : text) {
        if (groupParentheses)
            depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if ((c == ' ' || c == '\t') && depth <= 0) {
            if (!word.empty())
                out.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        out.push_back(word);
    return out;
}

bool wordToInt(const std::string& word, int64_t& value) {
    char* end = nullptr;
    errno = 0;
    long long parsed = strtoll(word.c_str(), &end, 10);
    if (end == word.c_str() || *end != '\0' || errno == ERANGE)
        return false;
    value = parsed;
    return true;
}

bool wordToDouble(const std::string& word, double& value) {
    char* end = nullptr;
    value = strtod(word.c_str(), &end);
    return end != word.c_str() && *end == '\0';
}
