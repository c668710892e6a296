#include "support/case_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tessaly::testing {
namespace {

struct Tag {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string rest;  // what follows ">" on the same line
};

// "<name a="x" b="y">rest" -> Tag; false for a line that does not open a tag.
bool parseOpening(const std::string& line, Tag& tag) {
    if (line.size() < 3 || line[0] != '<' || line[1] == '/') {
        return false;
    }
    std::size_t i = 1;
    while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) ||
                               line[i] == '_' || line[i] == '-')) {
        ++i;
    }
    if (i == 1) {
        return false;
    }
    tag.name = line.substr(1, i - 1);
    tag.attributes.clear();
    for (;;) {
        while (i < line.size() && line[i] == ' ') {
            ++i;
        }
        if (i >= line.size()) {
            return false;
        }
        if (line[i] == '>') {
            tag.rest = line.substr(i + 1);
            return true;
        }
        std::size_t eq = line.find("=\"", i);
        if (eq == std::string::npos) {
            return false;
        }
        std::size_t close = line.find('"', eq + 2);
        if (close == std::string::npos) {
            return false;
        }
        tag.attributes[line.substr(i, eq - i)] = line.substr(eq + 2, close - eq - 2);
        i = close + 1;
    }
}

std::string attributeOf(const std::map<std::string, std::string>& attributes,
                        const std::string& key, const std::string& otherwise) {
    auto it = attributes.find(key);
    return it == attributes.end() ? otherwise : it->second;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string expandHex(const std::string& text) {
    static const std::string open = "%hex[";
    static const std::string close = "]hex%";
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        std::size_t start = text.find(open, pos);
        if (start == std::string::npos) {
            out.append(text, pos, std::string::npos);
            return out;
        }
        std::size_t end = text.find(close, start + open.size());
        if (end == std::string::npos) {
            throw std::runtime_error("unclosed %hex[ in case file");
        }
        out.append(text, pos, start - pos);
        int high = -1;
        for (std::size_t i = start + open.size(); i < end; ++i) {
            if (text[i] == ' ') {
                continue;
            }
            int d = hexDigit(text[i]);
            if (d < 0) {
                throw std::runtime_error("bad digit in %hex[...]hex%");
            }
            if (high < 0) {
                high = d;
            } else {
                out.push_back(static_cast<char>(high * 16 + d));
                high = -1;
            }
        }
        if (high >= 0) {
            throw std::runtime_error("odd number of digits in %hex[...]hex%");
        }
        pos = end + close.size();
    }
}

}  // namespace

std::string CaseSection::attribute(const std::string& key, const std::string& otherwise) const {
    return attributeOf(attributes, key, otherwise);
}

std::string CaseBlock::attribute(const std::string& key, const std::string& otherwise) const {
    return attributeOf(attributes, key, otherwise);
}

const CaseSection* CaseBlock::section(const std::string& wanted) const {
    for (const CaseSection& s : sections) {
        if (s.name == wanted) {
            return &s;
        }
    }
    return nullptr;
}

std::vector<const CaseBlock*> CaseFile::all(const std::string& name) const {
    std::vector<const CaseBlock*> out;
    for (const CaseBlock& b : blocks) {
        if (b.name == name) {
            out.push_back(&b);
        }
    }
    return out;
}

const CaseBlock* CaseFile::block(const std::string& name) const {
    auto found = all(name);
    return found.empty() ? nullptr : found.front();
}

CaseFile readCaseFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    CaseFile file;
    file.path = path;
    CaseBlock* block = nullptr;
    CaseSection* section = nullptr;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (section != nullptr) {
            if (line == "</" + section->name + ">") {
                section = nullptr;
            } else {
                section->content += line + "\n";
            }
            continue;
        }
        Tag tag;
        if (block != nullptr) {
            if (line == "</" + block->name + ">") {
                block = nullptr;
            } else if (parseOpening(line, tag)) {
                block->sections.push_back({tag.name, tag.attributes, ""});
                const std::string close = "</" + tag.name + ">";
                if (tag.rest.size() >= close.size() &&
                    tag.rest.compare(tag.rest.size() - close.size(), close.size(), close) == 0) {
                    block->sections.back().content =
                        tag.rest.substr(0, tag.rest.size() - close.size());
                } else if (tag.rest.empty()) {
                    section = &block->sections.back();
                } else {
                    throw std::runtime_error(path + ":" + std::to_string(lineNumber) +
                                             ": text after a section's opening tag");
                }
            }
            continue;
        }
        if (parseOpening(line, tag) && tag.name != "testcase") {
            file.blocks.push_back({tag.name, tag.attributes, {}});
            block = &file.blocks.back();
        }
    }
    if (section != nullptr || block != nullptr) {
        throw std::runtime_error(path + ": <" + (section ? section->name : block->name) +
                                 "> is never closed");
    }
    return file;
}

std::string sectionText(const CaseSection& section,
                        const std::map<std::string, std::string>& variables) {
    std::string text = section.content;
    if (section.attribute("nonewline") == "yes" && !text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (section.attribute("crlf") == "yes") {
        std::string converted;
        for (char c : text) {
            if (c == '\n') {
                converted += '\r';
            }
            converted += c;
        }
        text = converted;
    }
    text = expandHex(text);
    // Longer names first, so that no name is taken for the beginning of a longer one.
    std::vector<std::pair<std::string, std::string>> vars(variables.begin(), variables.end());
    std::sort(vars.begin(), vars.end(),
              [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [name, value] : vars) {
        const std::string key = "%" + name;
        std::string out;
        std::size_t pos = 0;
        for (std::size_t at; (at = text.find(key, pos)) != std::string::npos;
             pos = at + key.size()) {
            out.append(text, pos, at - pos).append(value);
        }
        out.append(text, pos, std::string::npos);
        text = out;
    }
    return text;
}

std::vector<std::string> listCaseFiles(const std::string& directory, const std::string& extension) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().string();
        if (entry.is_regular_file() && name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
            out.push_back(name);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace tessaly::testing
