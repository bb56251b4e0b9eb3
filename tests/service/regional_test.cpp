#include "service/regional.h"

#include "service/textforms.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lumbrio {
namespace {

namespace fs = std::filesystem;

using Environment = std::vector<std::pair<const char *, const char *>>;

// Locales are generated from their sources into a temporary folder and reached through
// LOCPATH, so the test never depends on the locales installed on the machine.
class RegionalSettingsTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/lumbrio-locales-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        s_dir = pattern;
        for (const char *name : {"es_ES", "en_US", "fi_FI", "ja_JP"}) {
            const std::string command = "localedef -i " + std::string(name) + " -f UTF-8 " +
                                        (s_dir / (std::string(name) + ".UTF-8")).string() +
                                        " >/dev/null 2>&1";
            if (std::system(command.c_str()) != 0) {
                s_failure = "localedef failed for " + std::string(name);
                return;
            }
        }
    }

    static void TearDownTestSuite()
    {
        if (!s_dir.empty()) {
            std::error_code ignored;
            fs::remove_all(s_dir, ignored);
        }
    }

    void SetUp() override
    {
        ASSERT_FALSE(s_dir.empty()) << "cannot create a temporary folder";
        ASSERT_TRUE(s_failure.empty()) << s_failure;
    }

    // Reads the settings in a child process whose locale environment is exactly `environment`
    // (plus LOCPATH), so that neither the environment nor glibc's locale cache of this
    // process is touched. The child also sets its C library locale from that environment.
    static std::optional<RegionalSettings> readIn(const Environment &environment)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return std::nullopt;
        const pid_t child = fork();
        if (child < 0) {
            close(fds[0]);
            close(fds[1]);
            return std::nullopt;
        }
        if (child == 0) {
            close(fds[0]);
            for (const char *variable : {"LC_ALL", "LANG", "LANGUAGE", "LC_NUMERIC", "LC_TIME",
                                         "LC_CTYPE", "LC_MESSAGES", "LC_COLLATE", "LC_MONETARY"})
                unsetenv(variable);
            setenv("LOCPATH", s_dir.c_str(), 1);
            for (const auto &[name, value] : environment)
                setenv(name, value, 1);
            const RegionalSettings s = readRegionalSettings();
            const std::string out =
                std::string{s.decimalSeparator, s.dateSeparator, s.timeSeparator} + s.amDesignator +
                '\n' + s.pmDesignator + '\n';
            const bool written =
                write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size());
            close(fds[1]);
            _exit(written ? 0 : 1);
        }
        close(fds[1]);
        std::string in;
        char buffer[256];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            in.append(buffer, static_cast<std::size_t>(n));
        close(fds[0]);
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
            in.size() < 5)
            return std::nullopt;
        RegionalSettings s;
        s.decimalSeparator = in[0];
        s.dateSeparator = in[1];
        s.timeSeparator = in[2];
        const std::size_t amEnd = in.find('\n', 3);
        if (amEnd == std::string::npos || in.back() != '\n')
            return std::nullopt;
        s.amDesignator = in.substr(3, amEnd - 3);
        s.pmDesignator = in.substr(amEnd + 1, in.size() - amEnd - 2);
        return s;
    }

    static inline fs::path s_dir;
    static inline std::string s_failure;
};

struct LocaleCase
{
    const char *name;
    Environment environment;
    RegionalSettings expected;
};

TEST_F(RegionalSettingsTest, ReadsTheEnvironmentsLocale)
{
    const RegionalSettings defaults;
    const std::vector<LocaleCase> cases = {
        {"Spanish: comma, no designators",
         {{"LC_ALL", "es_ES.UTF-8"}},
         {',', '/', ':', "am", "pm"}},
        {"US English: designators", {{"LC_ALL", "en_US.UTF-8"}}, {'.', '/', ':', "AM", "PM"}},
        {"Finnish: dots in dates and times",
         {{"LANG", "fi_FI.UTF-8"}},
         {',', '.', '.', "am", "pm"}},
        // Multibyte separators keep the defaults; the designators are the locale's bytes.
        {"Japanese",
         {{"LC_ALL", "ja_JP.UTF-8"}},
         {'.', '/', ':', "\xE5\x8D\x88\xE5\x89\x8D", "\xE5\x8D\x88\xE5\xBE\x8C"}},
        {"Categories apart",
         {{"LANG", "en_US.UTF-8"}, {"LC_NUMERIC", "es_ES.UTF-8"}, {"LC_TIME", "fi_FI.UTF-8"}},
         {',', '.', '.', "am", "pm"}},
        {"LC_ALL wins",
         {{"LC_ALL", "en_US.UTF-8"}, {"LC_NUMERIC", "es_ES.UTF-8"}},
         {'.', '/', ':', "AM", "PM"}},
        {"C", {{"LC_ALL", "C"}}, defaults},
        {"POSIX", {{"LC_ALL", "POSIX"}}, defaults},
        {"C.UTF-8", {{"LANG", "C.UTF-8"}}, defaults},
        {"Nothing set", {}, defaults},
        {"Time in C, numbers in Spanish",
         {{"LC_NUMERIC", "es_ES.UTF-8"}, {"LC_TIME", "C"}},
         {',', '/', ':', "am", "pm"}},
        {"Locale not available", {{"LC_ALL", "xx_XX.UTF-8"}}, defaults},
    };
    for (const LocaleCase &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<RegionalSettings> read = readIn(c.environment);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->decimalSeparator, c.expected.decimalSeparator);
        EXPECT_EQ(read->dateSeparator, c.expected.dateSeparator);
        EXPECT_EQ(read->timeSeparator, c.expected.timeSeparator);
        EXPECT_EQ(read->amDesignator, c.expected.amDesignator);
        EXPECT_EQ(read->pmDesignator, c.expected.pmDesignator);
    }
}

// The forms take their separators from the settings passed in, never from the C library's
// current locale: with a Spanish C locale in force, the point settings still write points.
TEST_F(RegionalSettingsTest, FormsIgnoreTheCurrentCLocale)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("LOCPATH", s_dir.c_str(), 1);
        if (std::setlocale(LC_ALL, "es_ES.UTF-8") == nullptr)
            _exit(2);
        const RegionalSettings point;
        const bool ok =
            formatPrice(18.5, point) == "18.50" && formatQuantity(2.501, point) == "2.501" &&
            formatShortGeneral(1234567890123456.0, point) == "1.23456789012346E15" &&
            formatPrice(1.5e18, point) == "1.5E18" && codeToNumber("12.5", point) == 12.5 &&
            !codeToNumber("12,5", point).has_value();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: the Spanish locale could not be set; 1: a form "
                                         "followed the C library's locale";
}

} // namespace
} // namespace lumbrio
