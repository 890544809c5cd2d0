// Settings files and the data folder. A bare file name resolves to the data folder;
// integer reads fall back to the executable's folder only when the data folder is missing.
#pragma once
#include <string>

namespace app::settings {

// Files.
inline constexpr char16_t kOvUpdateIni[] = u"OvUpdate.ini";
inline constexpr char16_t kKavoIni[] = u"Kavo.ini";
inline constexpr char16_t kTestingIni[] = u"Testing.ini";
inline constexpr char16_t kOrvixIsIni[] = u"OrvixIS.ini";
inline constexpr char16_t kOrvixIni[] = u"orvix.ini";

// OvUpdate.ini
inline constexpr char16_t kSectionTest[] = u"Test";
inline constexpr char16_t kKeyPrintLog[] = u"printlog";
inline constexpr char16_t kKeyDebug[] = u"debug";
inline constexpr char16_t kKeyReadLocalXml[] = u"readlocalxml";
inline constexpr char16_t kSectionUpdateInfo[] = u"updateinfo";
inline constexpr char16_t kKeyUpdateFile[] = u"updatefile";
inline constexpr char16_t kSectionUpdate[] = u"update";
inline constexpr char16_t kKeyDbgCfg[] = u"dbg_cfg";
inline constexpr size_t kDbgCfgChars = 259;
// Kavo.ini (internet-cafe edition)
inline constexpr char16_t kSectionMain[] = u"main";
inline constexpr char16_t kKeyBm[] = u"bm";
// Testing.ini
inline constexpr char16_t kSectionDevice[] = u"Device";
inline constexpr char16_t kKeyClientIdForTest[] = u"ClientIDForTest";
inline constexpr size_t kClientIdForTestChars = 256;
// OrvixIS.ini
inline constexpr char16_t kKeyClient[] = u"client";
inline constexpr size_t kClientChars = 256;
// orvix.ini
inline constexpr char16_t kSectionCrashReport[] = u"CrashReport";
inline constexpr char16_t kKeyDumpPath[] = u"DumpPath";
inline constexpr size_t kDumpPathChars = 260;
inline constexpr char16_t kKeyDumpZipPathName[] = u"DumpZipPathName";
inline constexpr char16_t kKeyLogZipPathName[] = u"LogZipPathName";
inline constexpr size_t kZipPathChars = 520;

// Roaming application data + "\Lumora Video\Orvix"; empty when the shell cannot give the
// application-data folder.
std::u16string dataFolder();

// The file a settings read or write uses. A name with a backslash is used as given; a bare
// name lies in the data folder, except that integer reads take the executable's folder
// when the data folder does not exist.
std::u16string resolveSettingsFile(const std::u16string& name, bool integerRead);

int readInt(const std::u16string& section, const std::u16string& key, int defaultValue,
            const std::u16string& file);
std::u16string readString(const std::u16string& section, const std::u16string& key,
                          const std::u16string& defaultValue, size_t bufferChars, const std::u16string& file);
void writeString(const std::u16string& section, const std::u16string& key, const std::u16string& value,
                 const std::u16string& file);

}  // namespace app::settings
