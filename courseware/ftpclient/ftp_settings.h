// The FTP component's in-memory settings store: sections and keys kept in
// the order they were first written, INI text in and out. Names and values
// are client text (GBK); section and key names compare without regard to
// ASCII letter case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ftp {

class SettingsStore {
 public:
  // Takes the sections and keys of an INI text, on top of what is there.
  void load(std::string_view iniText);
  // Writing an existing key replaces its value where it stands.
  void write(std::string_view section, std::string_view key, std::string_view value);
  std::optional<std::string> read(std::string_view section, std::string_view key) const;
  // For each section a line "[name]", one line "key=value" per key and an
  // empty line; every line ends with CR LF.
  std::string text() const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
  };
  Section& section(std::string_view name);
  const Section* findSection(std::string_view name) const;

  std::vector<Section> sections_;
};

}  // namespace ftp
