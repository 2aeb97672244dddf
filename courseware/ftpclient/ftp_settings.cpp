#include "courseware/ftpclient/ftp_settings.h"

#include <algorithm>

namespace ftp {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trimmed(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

SettingsStore::Section& SettingsStore::section(std::string_view name) {
  for (Section& existing : sections_) {
    if (sameName(existing.name, name)) return existing;
  }
  sections_.push_back(Section{std::string(name), {}});
  return sections_.back();
}

const SettingsStore::Section* SettingsStore::findSection(std::string_view name) const {
  for (const Section& existing : sections_) {
    if (sameName(existing.name, name)) return &existing;
  }
  return nullptr;
}

void SettingsStore::write(std::string_view sectionName, std::string_view key, std::string_view value) {
  Section& target = section(sectionName);
  for (auto& [name, existing] : target.keys) {
    if (sameName(name, key)) {
      existing = value;
      return;
    }
  }
  target.keys.emplace_back(std::string(key), std::string(value));
}

std::optional<std::string> SettingsStore::read(std::string_view sectionName, std::string_view key) const {
  const Section* found = findSection(sectionName);
  if (!found) return std::nullopt;
  for (const auto& [name, value] : found->keys) {
    if (sameName(name, key)) return value;
  }
  return std::nullopt;
}

void SettingsStore::load(std::string_view iniText) {
  std::string current;
  bool inSection = false;
  while (!iniText.empty()) {
    size_t end = iniText.find('\n');
    std::string_view line = trimmed(iniText.substr(0, end));
    iniText.remove_prefix(end == std::string_view::npos ? iniText.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      current = trimmed(line.substr(1, line.size() - 2));
      section(current);
      inSection = true;
      continue;
    }
    size_t equals = line.find('=');
    if (!inSection || equals == std::string_view::npos) continue;
    write(current, trimmed(line.substr(0, equals)), line.substr(equals + 1));
  }
}

std::string SettingsStore::text() const {
  std::string out;
  for (const Section& section : sections_) {
    out += "[" + section.name + "]\r\n";
    for (const auto& [key, value] : section.keys) out += key + "=" + value + "\r\n";
    out += "\r\n";
  }
  return out;
}

}  // namespace ftp
