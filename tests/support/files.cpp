#include "tests/support/files.h"

#include <cstdio>

namespace {

bool ReadInto(const std::string& path, std::vector<uint8_t>* bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

bool Write(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written;
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  ReadInto(path, &bytes);
  return bytes;
}

std::string FileText(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadInto(path, &bytes)) return "<missing>";
  return std::string(bytes.begin(), bytes.end());
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  return Write(path, bytes.data(), bytes.size());
}

bool WriteWholeFile(const std::string& path, const std::string& text) { return Write(path, text.data(), text.size()); }
