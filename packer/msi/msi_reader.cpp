#include "packer/msi/msi_reader.h"

#include "packer/msi/msi_database.h"

bool ParseMsiTemplate(const std::string& templateText, std::string* architecture, std::string* lcids,
                      std::string* error) {
  size_t semicolon = templateText.find(';');
  std::string platform = templateText.substr(0, semicolon);
  std::string languages = semicolon == std::string::npos ? std::string() : templateText.substr(semicolon + 1);
  // The launcher picks between exactly two architectures; any other platform
  // would be packed but never chosen, so it is refused here.
  if (platform.empty() || platform == "Intel") {
    *architecture = "Intel";
  } else if (platform == "x64" || platform == "AMD64") {
    *architecture = "x64";
  } else {
    *error = "platform \"" + platform + "\" cannot be chosen by the launcher (only Intel and x64)";
    return false;
  }
  lcids->clear();
  size_t start = 0;
  while (start <= languages.size()) {
    size_t comma = languages.find(',', start);
    if (comma == std::string::npos) comma = languages.size();
    std::string piece = languages.substr(start, comma - start);
    if (!piece.empty()) {
      if (!lcids->empty()) *lcids += ';';
      *lcids += piece;
    }
    start = comma + 1;
  }
  return true;
}

bool ReadMsiFacts(const std::string& msiPath, MsiFacts* facts, std::string* error) {
  *facts = MsiFacts();
  std::string reason;
  const MsiDatabasePtr database(OpenMsiDatabase(msiPath, &reason));
  if (!database) {
    *error = "not a Windows Installer database (" + reason + ")";
    return false;
  }
  std::string templateText;
  if (!ReadMsiTemplate(database.get(), &templateText, &reason)) {
    *error = "no summary information (" + reason + ")";
    return false;
  }
  if (!ParseMsiTemplate(templateText, &facts->architecture, &facts->lcids, error)) {
    *error = "Template: " + *error;
    return false;
  }
  bool hasProperty = false, hasMedia = false;
  if (!HasMsiTable(database.get(), "Property", &hasProperty, &reason) ||
      !HasMsiTable(database.get(), "Media", &hasMedia, &reason)) {
    *error = "cannot list tables (" + reason + ")";
    return false;
  }
  // A value there that cannot be converted stays empty with its reason: an
  // override may make up for it.
  std::string codeProblem, nameProblem;
  if (hasProperty && (!ReadMsiProperty(database.get(), "ProductCode", &facts->productCode, &codeProblem) ||
                      !ReadMsiProperty(database.get(), "ProductName", &facts->productName, &nameProblem))) {
    *error = "cannot read the Property table (" + (nameProblem.empty() ? codeProblem : nameProblem) + ")";
    return false;
  }
  facts->productNameProblem = nameProblem;
  std::vector<std::string> cabinets;
  if (hasMedia && !ReadMsiColumnOrdered(database.get(), "Media", "Cabinet", "DiskId", &cabinets, &reason)) {
    *error = "cannot read the Media table (" + reason + ")";
    return false;
  }
  for (const std::string& cabinet : cabinets) {
    if (cabinet.empty() || cabinet[0] == '#') continue;
    bool seen = false;
    for (const std::string& known : facts->cabinets) seen = seen || known == cabinet;
    if (!seen) facts->cabinets.push_back(cabinet);
  }
  return true;
}
