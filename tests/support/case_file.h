// Test cases kept as small data files, in the manner of curl's test data: blocks holding
// sections, each section's lines taken literally. The format is written down once, in
// tests/data/README.md.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tessaly::testing {

struct CaseSection {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string content;  // as written, before any of the conversions
    std::string attribute(const std::string& key, const std::string& otherwise = "") const;
};

struct CaseBlock {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<CaseSection> sections;
    std::string attribute(const std::string& key, const std::string& otherwise = "") const;
    // The first section of that name, or nullptr.
    const CaseSection* section(const std::string& name) const;
};

struct CaseFile {
    std::string path;
    std::vector<CaseBlock> blocks;
    // Every block of that name, in file order.
    std::vector<const CaseBlock*> all(const std::string& name) const;
    // The first block of that name, or nullptr.
    const CaseBlock* block(const std::string& name) const;
};

// Throws std::runtime_error for a file that cannot be read or a section left open.
CaseFile readCaseFile(const std::string& path);

// The section's content after nonewline, crlf, %hex[...]hex% and the variables.
std::string sectionText(const CaseSection& section,
                        const std::map<std::string, std::string>& variables = {});

// The files ending in extension in directory, sorted by name.
std::vector<std::string> listCaseFiles(const std::string& directory,
                                       const std::string& extension = ".case");

}  // namespace tessaly::testing
