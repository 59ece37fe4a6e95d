#include "packer/commands/locale_names.h"

#include <cctype>
#include <cstdlib>

#include "base/bounded_text.h"

namespace {

struct LocaleName {
  const char* name;
  uint32_t lcid;
};

// Windows LCIDs (language identifier with the default sort).
constexpr LocaleName kLocales[] = {
    {"ar-SA", 0x0401}, {"ar-EG", 0x0C01}, {"ar-AE", 0x3801}, {"bg-BG", 0x0402}, {"ca-ES", 0x0403},
    {"zh-TW", 0x0404}, {"zh-CN", 0x0804}, {"zh-HK", 0x0C04}, {"zh-SG", 0x1004}, {"cs-CZ", 0x0405},
    {"da-DK", 0x0406}, {"de-DE", 0x0407}, {"de-CH", 0x0807}, {"de-AT", 0x0C07}, {"de-LU", 0x1007},
    {"el-GR", 0x0408}, {"en-US", 0x0409}, {"en-GB", 0x0809}, {"en-AU", 0x0C09}, {"en-CA", 0x1009},
    {"en-NZ", 0x1409}, {"en-IE", 0x1809}, {"en-ZA", 0x1C09}, {"en-IN", 0x4009}, {"es-ES", 0x0C0A},
    {"es-MX", 0x080A}, {"es-AR", 0x2C0A}, {"es-CO", 0x240A}, {"es-US", 0x540A}, {"fi-FI", 0x040B},
    {"fr-FR", 0x040C}, {"fr-BE", 0x080C}, {"fr-CA", 0x0C0C}, {"fr-CH", 0x100C}, {"he-IL", 0x040D},
    {"hu-HU", 0x040E}, {"is-IS", 0x040F}, {"it-IT", 0x0410}, {"it-CH", 0x0810}, {"ja-JP", 0x0411},
    {"ko-KR", 0x0412}, {"nl-NL", 0x0413}, {"nl-BE", 0x0813}, {"nb-NO", 0x0414}, {"nn-NO", 0x0814},
    {"pl-PL", 0x0415}, {"pt-BR", 0x0416}, {"pt-PT", 0x0816}, {"ro-RO", 0x0418}, {"ru-RU", 0x0419},
    {"hr-HR", 0x041A}, {"sk-SK", 0x041B}, {"sv-SE", 0x041D}, {"sv-FI", 0x081D}, {"th-TH", 0x041E},
    {"tr-TR", 0x041F}, {"id-ID", 0x0421}, {"uk-UA", 0x0422}, {"sl-SI", 0x0424}, {"et-EE", 0x0425},
    {"lv-LV", 0x0426}, {"lt-LT", 0x0427}, {"fa-IR", 0x0429}, {"vi-VN", 0x042A}, {"hi-IN", 0x0439},
    {"ms-MY", 0x043E}, {"sr-Latn-RS", 0x241A}, {"sr-Cyrl-RS", 0x281A},
};

bool SameName(const std::string& given, const char* name) {
  size_t i = 0;
  for (; name[i] != '\0'; ++i) {
    if (i >= given.size()) return false;
    const char c = given[i] == '_' ? '-' : given[i];
    if (LowerAscii(c) != LowerAscii(name[i]))
      return false;
  }
  return i == given.size();
}

}  // namespace

bool LcidOfLocaleName(const std::string& name, uint32_t* lcid) {
  for (const LocaleName& locale : kLocales) {
    if (!SameName(name, locale.name)) continue;
    *lcid = locale.lcid;
    return true;
  }
  return false;
}

bool ParseLcid(const std::string& text, uint32_t* lcid) {
  if (LcidOfLocaleName(text, lcid)) return true;
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (*end != '\0' || value == 0 || value > 0xFFFFFFFFull) return false;
  *lcid = static_cast<uint32_t>(value);
  return true;
}

std::string LocaleNameOf(uint32_t lcid) {
  for (const LocaleName& locale : kLocales)
    if (locale.lcid == lcid) return locale.name;
  return "";
}

std::vector<uint32_t> TableLcids() {
  std::vector<uint32_t> lcids;
  for (const LocaleName& locale : kLocales) lcids.push_back(locale.lcid);
  return lcids;
}

const std::vector<std::string>& FrequentLocales() {
  static const std::vector<std::string> locales = {"en-US", "en-GB", "de-DE", "de-CH", "fr-FR", "fr-CA",
                                                   "es-ES", "it-IT", "pt-BR", "ru-RU", "ja-JP", "zh-CN"};
  return locales;
}
