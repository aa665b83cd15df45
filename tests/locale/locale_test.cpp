// Runs the number text tests (tests/engine/number) with a German locale in
// force, as on a German desktop: on Linux the Qt application object adopts
// the environment's locale for the C library, so LC_NUMERIC gives a decimal
// comma; on Windows the locale is put in force as a DLL of the process could.
#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

#include <clocale>
#include <string>

// Without the locale the other tests would prove nothing; scripts/setup
// generates it.
TEST(Locale, GermanDecimalCommaIsInForce) {
    const std::lconv* conventions = std::localeconv();
    ASSERT_NE(conventions, nullptr);
    EXPECT_EQ(std::string(conventions->decimal_point), ",")
        << KES_TEST_LOCALE << " is not in force: is it generated (locale -a)?";
}

int main(int argc, char** argv) {
    qputenv("LC_ALL", QByteArray(KES_TEST_LOCALE));
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#ifdef _WIN32
    // A Windows program's C library keeps the "C" locale whatever the desktop
    // is set to, until something in the process asks for the user's locale
    // (a DLL, a printer driver): the German one is put in force here as that
    // would.
    std::setlocale(LC_ALL, "German_Germany.1252");
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
