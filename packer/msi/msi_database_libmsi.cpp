// The Linux back-end of packer/msi_database.h: libmsi, the only glib code.
#include <libmsi.h>

#include <memory>

#include "packer/msi/msi_database.h"
#include "packer/msi/msi_reader.h"

// libmsi hands out GObjects and GErrors; these holders give them back on
// every path.
namespace {

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

}  // namespace

struct MsiDatabase {
  LibmsiDatabase* database;
};

void SilenceMsiLibraryLogs() { g_log_set_default_handler(DropLog, nullptr); }

MsiDatabase* OpenMsiDatabase(const std::string& path, std::string* reason) {
  GErrorHolder failure;
  LibmsiDatabase* database = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &failure.error);
  if (database == nullptr) {
    *reason = failure.Text();
    return nullptr;
  }
  return new MsiDatabase{database};
}

void CloseMsiDatabase(MsiDatabase* database) {
  if (database == nullptr) return;
  g_object_unref(database->database);
  delete database;
}

bool ReadMsiTemplate(MsiDatabase* database, std::string* templateText, std::string* reason) {
  GErrorHolder failure;
  GObjectHolder<LibmsiSummaryInfo> summary(libmsi_summary_info_new(database->database, 0, &failure.error));
  if (!summary) {
    *reason = failure.Text();
    return false;
  }
  const gchar* text = libmsi_summary_info_get_string(summary.get(), LIBMSI_PROPERTY_TEMPLATE, nullptr);
  *templateText = text != nullptr ? text : "";
  return true;
}

bool QueryMsiColumn(MsiDatabase* database, const char* sql, std::vector<std::string>* values,
                    std::string* reason) {
  GErrorHolder failure;
  GObjectHolder<LibmsiQuery> query(libmsi_query_new(database->database, sql, &failure.error));
  if (!query || !libmsi_query_execute(query.get(), nullptr, &failure.error)) {
    *reason = failure.Text();
    return false;
  }
  for (;;) {
    GObjectHolder<LibmsiRecord> row(libmsi_query_fetch(query.get(), &failure.error));
    if (!row) break;
    values->push_back(libmsi_record_is_null(row.get(), 1) ? std::string()
                                                           : TakeString(libmsi_record_get_string(row.get(), 1)));
  }
  if (failure.error != nullptr) {
    *reason = failure.Text();
    return false;
  }
  libmsi_query_close(query.get(), nullptr);
  return true;
}
