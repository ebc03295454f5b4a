// Writes the bash completion of larkledger-security-cli at build time: the
// template with the word lists of the program's own command table, so the
// completion can never offer a command or option the program lacks, nor
// miss one it has.
//
//   larkcli-completion TEMPLATE OUTPUT

#include "Arguments.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

namespace {

// The first @NAME@ (capitals and underscores) in `text`. Written out by
// hand: GCC 12 warns falsely inside <regex> when built with the sanitizers.
std::optional<std::string> leftoverPlaceholder(const std::string& text)
{
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1)) {
        std::size_t end = at + 1;
        while (end < text.size() && ((text[end] >= 'A' && text[end] <= 'Z') || text[end] == '_'))
            ++end;
        if (end > at + 1 && end < text.size() && text[end] == '@')
            return text.substr(at, end - at + 1);
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: larkcli-completion TEMPLATE OUTPUT\n";
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string script{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in && !in.eof()) {
        std::cerr << "larkcli-completion: cannot read " << argv[1] << "\n";
        return 1;
    }
    const std::string filled = fillCompletion(script);
    // A placeholder left over is a list the tables do not know.
    if (const std::optional<std::string> left = leftoverPlaceholder(filled)) {
        std::cerr << "larkcli-completion: " << argv[1] << ": no words for " << *left << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << filled;
    out.close();
    if (!out) {
        std::cerr << "larkcli-completion: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
