// Linked into every test program: the program's settings files (Options.xml, Projects/), the
// autostart entry and the user's configuration folder go to a fresh temporary folder of this run,
// never to the build folder or the real home. Runs before main().

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

class TzTestSettingsIsolation
{
public:
    TzTestSettingsIsolation()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quadrel-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return;
        fFolder = pattern;
        const std::string settings = fFolder + "/settings";
        const std::string config = fFolder + "/config";
        std::filesystem::create_directories(settings);
        std::filesystem::create_directories(config);
        ::setenv("QUADREL_SETTINGS_DIR", settings.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    ~TzTestSettingsIsolation()
    {
        std::error_code ignored;
        if (!fFolder.empty())
            std::filesystem::remove_all(fFolder, ignored);
    }

private:
    std::string fFolder;
};

const TzTestSettingsIsolation Isolation;

} // namespace
