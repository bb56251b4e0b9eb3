#include "app/configuration.h"
#include "app/inifile.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <unistd.h>

namespace lumbrio {
namespace {

namespace fs = std::filesystem;

/// A Conf.ini in a fresh temporary folder, removed with the fixture.
class ConfFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string templ = (fs::temp_directory_path() / "lumbrio-conf-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        m_dir = templ;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path write(const std::string &text)
    {
        const fs::path path = m_dir / "Conf.ini";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    fs::path missing() const { return m_dir / "absent" / "Conf.ini"; }

    fs::path m_dir;
};

struct ConfCase
{
    const char *name;
    std::optional<std::string> text; // nothing: no file at all
    char separator;
    std::string ip;
    std::int32_t puerto;
    double moneda;
    double punto;
};

class ConfTable : public ConfFile, public ::testing::WithParamInterface<ConfCase>
{
};

TEST_P(ConfTable, ReadsSettingsOrFallsBack)
{
    const ConfCase &c = GetParam();
    const fs::path path = c.text ? write(*c.text) : missing();
    const Configuracion conf = leeConfiguracion(path, c.separator);
    EXPECT_EQ(conf.IPServidor, c.ip);
    EXPECT_EQ(conf.Puerto, c.puerto);
    EXPECT_EQ(conf.MonedaMinima, c.moneda);
    EXPECT_EQ(conf.PuntoRedondeo, c.punto);
    EXPECT_EQ(conf.usedFallback, c.puerto == 6000 && c.moneda == 0.005 && c.punto == 0.01);
}

constexpr double M = MonedaMinimaFallback;  // 0.005
constexpr double P = PuntoRedondeoFallback; // 0.01

const ConfCase confCases[] = {
    {"NoFile", std::nullopt, '.', "", 6001, 0.01, 0.005},
    {"EmptyFile", "", '.', "", 6001, 0.01, 0.005},
    {"AllKeys",
     "[SRV_DREL]\nIP=192.168.1.20\n[TCP]\nPUERTO=7001\n[GENERAL]\n"
     "MONEDA_MINIMA=0.5\nPUNTO_REDONDEO=0.25\n",
     '.', "192.168.1.20", 7001, 0.5, 0.25},
    {"PortLettersOverridesValidAmounts",
     "[SRV_DREL]\nIP=server\n[TCP]\nPUERTO=abc\n[GENERAL]\nMONEDA_MINIMA=0.5\n"
     "PUNTO_REDONDEO=0.25\n",
     '.', "server", 6000, M, P},
    {"BadRoundingPointDropsValidPort", "[TCP]\nPUERTO=7001\n[GENERAL]\nPUNTO_REDONDEO=medio\n", '.',
     "", 6000, M, P},
    {"BadCoin", "[GENERAL]\nMONEDA_MINIMA=1,5\n", '.', "", 6000, M, P},
    {"EmptyPortValue", "[TCP]\nPUERTO=\n", '.', "", 6000, M, P},
    {"PortWithFraction", "[TCP]\nPUERTO=6001.5\n", '.', "", 6000, M, P},
    {"PortBeyond32Bits", "[TCP]\nPUERTO=2147483648\n", '.', "", 6000, M, P},
    {"PortMostNegative", "[TCP]\nPUERTO=-2147483648\n", '.', "",
     std::numeric_limits<std::int32_t>::min(), 0.01, 0.005},
    {"PortDollarHex", "[TCP]\nPUERTO=$1B59\n", '.', "", 7001, 0.01, 0.005},
    {"PortZeroXHex", "[TCP]\nPUERTO=0x1b5A\n", '.', "", 7002, 0.01, 0.005},
    {"PortSignedHex", "[TCP]\nPUERTO=-$10\n", '.', "", -16, 0.01, 0.005},
    {"PortHexBeyond32Bits", "[TCP]\nPUERTO=$80000000\n", '.', "", 6000, M, P},
    {"PortGroupSeparator", "[TCP]\nPUERTO=6,001\n", '.', "", 6000, M, P},
    {"CommaDefaultsDoNotConvert", "[TCP]\nPUERTO=7001\n", ',', "", 6000, M, P},
    {"CommaOneAmountOnly", "[TCP]\nPUERTO=7001\n[GENERAL]\nMONEDA_MINIMA=0,05\n", ',', "", 6000, M,
     P},
    {"CommaBothAmounts",
     "[TCP]\nPUERTO=7001\n[GENERAL]\nMONEDA_MINIMA=0,05\nPUNTO_REDONDEO=0,025\n", ',', "", 7001,
     0.05, 0.025},
    {"CommaRejectsPoint", "[GENERAL]\nMONEDA_MINIMA=0.05\nPUNTO_REDONDEO=0,025\n", ',', "", 6000, M,
     P},
    {"NamesInOtherCase",
     "[srv_drel]\nip=db1\n[Tcp]\nPuerto=7003\n[general]\nmoneda_minima=0.1\n"
     "Punto_Redondeo=0.05\n",
     '.', "db1", 7003, 0.1, 0.05},
    {"BlanksAndQuotes",
     "  [ TCP ]  \n  PUERTO  =   \"7004\"  \n[GENERAL]\nMONEDA_MINIMA = '0.2'\n"
     "PUNTO_REDONDEO=\t0.1\t\n",
     '.', "", 7004, 0.2, 0.1},
    {"Exponent", "[GENERAL]\nMONEDA_MINIMA=5E-2\nPUNTO_REDONDEO=2.5e-2\n", '.', "", 6001, 0.05,
     0.025},
    {"ExponentWithoutDigits", "[GENERAL]\nMONEDA_MINIMA=5E\n", '.', "", 6000, M, P},
    {"AmountWithoutLeadingDigit", "[GENERAL]\nMONEDA_MINIMA=.5\nPUNTO_REDONDEO=-0.25\n", '.', "",
     6001, 0.5, -0.25},
    {"AmountOverflowsDouble", "[GENERAL]\nMONEDA_MINIMA=1E400\n", '.', "", 6000, M, P},
    {"TwoSeparators", "[GENERAL]\nMONEDA_MINIMA=0.0.1\n", '.', "", 6000, M, P},
    {"FirstDuplicateKeyWins", "[TCP]\nPUERTO=7005\nPUERTO=abc\n", '.', "", 7005, 0.01, 0.005},
    {"FirstDuplicateSectionWins", "[TCP]\nX=1\n[GENERAL]\n[TCP]\nPUERTO=abc\n", '.', "", 6001, 0.01,
     0.005},
    {"CrLfAndByteOrderMark", "\xEF\xBB\xBF[TCP]\r\nPUERTO=7006\r\n[SRV_DREL]\r\nIP=h\r\n", '.', "h",
     7006, 0.01, 0.005},
    {"CommentsAndKeysOutsideSections", "PUERTO=1\n;[TCP]\n[TCP]\n;PUERTO=abc\nPUERTO=7007\n", '.',
     "", 7007, 0.01, 0.005},
    {"IpQuotedKeepsInnerBlanks", "[SRV_DREL]\nIP = \" db host \" \n", '.', " db host ", 6001, 0.01,
     0.005},
    {"IpUnmatchedQuotesStay", "[SRV_DREL]\nIP=\"db'\n", '.', "\"db'", 6001, 0.01, 0.005},
};

INSTANTIATE_TEST_SUITE_P(Conf, ConfTable, ::testing::ValuesIn(confCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ConfFile, DataServerKeysAreRawTextsOutsideTheFallback)
{
    const Configuracion conf = leeConfiguracion(
        write("[SRV_DREL]\nBASE = \"tienda 1/Srv_Drel.db\"\nUSUARIO=caja\nCLAVE=' s3cr;t '\n"
              "PUERTO_BD=no-es-numero\n[TCP]\nPUERTO=7010\n"),
        '.');
    EXPECT_EQ(conf.Base, "tienda 1/Srv_Drel.db");
    EXPECT_EQ(conf.Usuario, "caja");
    EXPECT_EQ(conf.Clave, " s3cr;t ");
    EXPECT_EQ(conf.PuertoBd, "no-es-numero");
    EXPECT_EQ(conf.Puerto, 7010);
    EXPECT_FALSE(conf.usedFallback);

    const Configuracion none = leeConfiguracion(missing(), '.');
    EXPECT_EQ(none.Base, "");
    EXPECT_EQ(none.Usuario, "");
    EXPECT_EQ(none.Clave, "");
    EXPECT_EQ(none.PuertoBd, "");
}

TEST_F(ConfFile, ChangeTakesEffectOnlyOnNextRead)
{
    const fs::path path = write("[TCP]\nPUERTO=7020\n");
    const Configuracion first = leeConfiguracion(path, '.');
    write("[TCP]\nPUERTO=7021\n");
    EXPECT_EQ(first.Puerto, 7020);
    EXPECT_EQ(leeConfiguracion(path, '.').Puerto, 7021);
}

TEST(IniFile, PresentEmptyValueIsEmptyNotDefault)
{
    const IniFile ini = IniFile::fromText("[A]\nK=\nQ=\"\"\n");
    EXPECT_EQ(ini.readString("a", "k", "default"), "");
    EXPECT_EQ(ini.readString("A", "Q", "default"), "");
    EXPECT_EQ(ini.readString("A", "missing", "default"), "default");
    EXPECT_EQ(ini.readString("B", "K", "default"), "default");
}

TEST(IniFile, ValuesAreCutTo2047Bytes)
{
    const std::string longValue(3000, 'x');
    const IniFile ini = IniFile::fromText("[SRV_DREL]\nIP=" + longValue + "\n");
    EXPECT_EQ(ini.readString("SRV_DREL", "IP", ""), std::string(2047, 'x'));
    const IniFile exact = IniFile::fromText("[S]\nK=\"" + std::string(2047, 'y') + "\"\n");
    EXPECT_EQ(exact.readString("S", "K", ""), std::string(2047, 'y'));
}

TEST(IniFile, LastLineWithoutNewlineAndLineWithoutEquals)
{
    const IniFile ini = IniFile::fromText("[S]\nNOTAKEY\nK=v");
    EXPECT_EQ(ini.value("S", "K"), std::optional<std::string>("v"));
    EXPECT_EQ(ini.value("S", "NOTAKEY"), std::nullopt);
}

TEST(Conversions, WholeNumbers)
{
    struct Case
    {
        const char *text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {
        {"0", 0},
        {"+15", 15},
        {"-15", -15},
        {"2147483647", 2147483647},
        {"$7FFFFFFF", 2147483647},
        {"0X10", 16},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"12a", std::nullopt},
        {" 12", std::nullopt},
        {"1e3", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"--1", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(convierteEntero(c.text), c.value);
    }
}

TEST(Conversions, DecimalNumbersFollowTheSeparator)
{
    struct Case
    {
        const char *text;
        char separator;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"0.01", '.', 0.01},
        {"0,01", ',', 0.01},
        {"0,01", '.', std::nullopt},
        {"0.01", ',', std::nullopt},
        {"1.", '.', 1.0},
        {"-2.5E+1", '.', -25.0},
        {"1e-3", '.', 0.001},
        {"1E", '.', std::nullopt},
        {"E3", '.', std::nullopt},
        {".", '.', std::nullopt},
        {"1 000", '.', std::nullopt},
        {"0x10", '.', std::nullopt},
        {"inf", '.', std::nullopt},
        {"nan", '.', std::nullopt},
        {"", '.', std::nullopt},
        {"  7.5 ", '.', 7.5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " with separator " + c.separator);
        EXPECT_EQ(convierteDecimal(c.text, c.separator), c.value);
    }
}

// The application object puts the C library in the user's locale; a Spanish one reads numbers
// with a comma. Conf.ini's numbers follow only the separator they are given.
TEST(Conversions, DecimalNumbersIgnoreTheCLibraryLocale)
{
    char pattern[] = "/tmp/lumbrio-conf-locale-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string command =
        "localedef -i es_ES -f UTF-8 " + (dir / "es_ES.UTF-8").string() + " >/dev/null 2>&1";
    const int generated = std::system(command.c_str());
    setenv("LOCPATH", dir.c_str(), 1);
    const char *set = generated == 0 ? std::setlocale(LC_NUMERIC, "es_ES.UTF-8") : nullptr;
    const std::optional<double> point = convierteDecimal("0.005", '.');
    const std::optional<double> comma = convierteDecimal("0,01", ',');
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    std::filesystem::remove_all(dir);

    ASSERT_NE(set, nullptr) << "the Spanish locale could not be generated or set";
    EXPECT_EQ(point, 0.005);
    EXPECT_EQ(comma, 0.01);
}

TEST(ConfPath, EnvironmentNamesTheFileElseBesideTheExecutable)
{
    EXPECT_EQ(rutaConfiguracion("/opt/lumbrio/bin", nullptr),
              fs::path("/opt/lumbrio/bin/Conf.ini"));
    EXPECT_EQ(rutaConfiguracion("/opt/lumbrio/bin", ""), fs::path("/opt/lumbrio/bin/Conf.ini"));
    EXPECT_EQ(rutaConfiguracion("/opt/lumbrio/bin", "/etc/lumbrio/Conf.ini"),
              fs::path("/etc/lumbrio/Conf.ini"));
}

} // namespace
} // namespace lumbrio
