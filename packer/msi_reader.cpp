#include "packer/msi_reader.h"

#include <libmsi.h>

#include <memory>

namespace {

// libmsi hands out GObjects and GErrors; these holders give them back on
// every path.
struct GObjectRelease {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GObjectHolder = std::unique_ptr<T, GObjectRelease>;

struct GErrorHolder {
  GError* error = nullptr;
  ~GErrorHolder() {
    if (error != nullptr) g_error_free(error);
  }
  std::string Text() const { return error != nullptr ? error->message : "unknown error"; }
};

void DropLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

std::string TakeString(gchar* text) {
  std::string result = text != nullptr ? text : "";
  g_free(text);
  return result;
}

// Runs a one-column query and collects every row's value in order.
bool QueryColumn(LibmsiDatabase* database, const char* sql, std::vector<std::string>* values,
                 std::string* error) {
  GErrorHolder failure;
  GObjectHolder<LibmsiQuery> query(libmsi_query_new(database, sql, &failure.error));
  if (!query || !libmsi_query_execute(query.get(), nullptr, &failure.error)) {
    *error = failure.Text();
    return false;
  }
  for (;;) {
    GObjectHolder<LibmsiRecord> row(libmsi_query_fetch(query.get(), &failure.error));
    if (!row) break;
    values->push_back(libmsi_record_is_null(row.get(), 1) ? std::string()
                                                           : TakeString(libmsi_record_get_string(row.get(), 1)));
  }
  if (failure.error != nullptr) {
    *error = failure.Text();
    return false;
  }
  libmsi_query_close(query.get(), nullptr);
  return true;
}

bool ReadProperty(LibmsiDatabase* database, const char* name, std::string* value, std::string* error) {
  std::string sql = std::string("SELECT `Value` FROM `Property` WHERE `Property` = '") + name + "'";
  std::vector<std::string> values;
  if (!QueryColumn(database, sql.c_str(), &values, error)) return false;
  if (!values.empty()) *value = values.front();
  return true;
}

bool HasTable(LibmsiDatabase* database, const char* table, std::string* error) {
  std::string sql = std::string("SELECT `Name` FROM `_Tables` WHERE `Name` = '") + table + "'";
  std::vector<std::string> values;
  if (!QueryColumn(database, sql.c_str(), &values, error)) return false;
  return !values.empty();
}

}  // namespace

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

void SilenceMsiLibraryLogs() { g_log_set_default_handler(DropLog, nullptr); }

bool ReadMsiFacts(const std::string& msiPath, MsiFacts* facts, std::string* error) {
  *facts = MsiFacts();
  GErrorHolder failure;
  GObjectHolder<LibmsiDatabase> database(
      libmsi_database_new(msiPath.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &failure.error));
  if (!database) {
    *error = "not a Windows Installer database (" + failure.Text() + ")";
    return false;
  }
  GObjectHolder<LibmsiSummaryInfo> summary(libmsi_summary_info_new(database.get(), 0, &failure.error));
  if (!summary) {
    *error = "no summary information (" + failure.Text() + ")";
    return false;
  }
  const gchar* templateText = libmsi_summary_info_get_string(summary.get(), LIBMSI_PROPERTY_TEMPLATE, nullptr);
  if (!ParseMsiTemplate(templateText != nullptr ? templateText : "", &facts->architecture, &facts->lcids,
                        error)) {
    *error = "Template: " + *error;
    return false;
  }
  std::string queryError;
  bool hasProperty = HasTable(database.get(), "Property", &queryError);
  if (!queryError.empty()) {
    *error = "cannot list tables (" + queryError + ")";
    return false;
  }
  if (hasProperty && (!ReadProperty(database.get(), "ProductCode", &facts->productCode, &queryError) ||
                      !ReadProperty(database.get(), "ProductName", &facts->productName, &queryError))) {
    *error = "cannot read the Property table (" + queryError + ")";
    return false;
  }
  bool hasMedia = HasTable(database.get(), "Media", &queryError);
  std::vector<std::string> cabinets;
  if (hasMedia &&
      !QueryColumn(database.get(), "SELECT `Cabinet` FROM `Media` ORDER BY `DiskId`", &cabinets, &queryError)) {
    *error = "cannot read the Media table (" + queryError + ")";
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
