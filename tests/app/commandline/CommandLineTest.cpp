#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Kind = CommandLine::Kind;

namespace {
struct Case {
    QStringList arguments;
    Kind kind;
    std::optional<QString> argument = std::nullopt;
};

// What each argument list asks for, and the one argument it carries.
TEST(CommandLine, EachCommandIsReadWithItsArgument) {
    const Case cases[] = {
        {{}, Kind::start},
        {{u"--show-panel"_s}, Kind::showPanel},
        {{u"--settings"_s}, Kind::settings, u""_s},
        {{u"--settings"_s, u"sync"_s}, Kind::settings, u"sync"_s},
        {{u"copy"_s, u"3"_s}, Kind::copy, u"3"_s},
        {{u"pin"_s, u"2"_s}, Kind::pin, u"2"_s},
        {{u"delete"_s, u"0B6B2F4A-1C2D"_s}, Kind::remove, u"0B6B2F4A-1C2D"_s},
        {{u"quit"_s}, Kind::quit},
        {{u"help"_s}, Kind::help},
        {{u"-v"_s}, Kind::version},
        {{u"add"_s}, Kind::add},
        {{u"--join"_s, u"ABC-DEF-GHJ"_s}, Kind::join, u"ABC-DEF-GHJ"_s},
        // Typed in the groups the other screen shows.
        {{u"--join"_s, u"abc"_s, u"def"_s, u"ghj"_s}, Kind::join, u"abc def ghj"_s},
        {{u"--join"_s, u"tindrel://pair?code=X&port=1&hosts=10.0.0.1"_s},
         Kind::join,
         u"tindrel://pair?code=X&port=1&hosts=10.0.0.1"_s},
        {{u"devices"_s}, Kind::devices},
        {{u"pause-device"_s, u"Work laptop"_s}, Kind::pauseDevice, u"Work laptop"_s},
        {{u"resume-device"_s, u"Work laptop"_s}, Kind::resumeDevice, u"Work laptop"_s},
        {{u"unpair"_s, u"0B6B2F4A"_s}, Kind::unpair, u"0B6B2F4A"_s},
    };
    for (const Case& c : cases) {
        const CommandLine line = CommandLine::parse(c.arguments);
        EXPECT_EQ(line.kind, c.kind) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(line.argument, c.argument) << c.arguments.join(u' ').toStdString();
    }
}

TEST(CommandLine, PairTakesSecondsAndNoWaitInAnyOrder) {
    const CommandLine plain = CommandLine::parse({u"--pair"_s});
    EXPECT_EQ(plain.kind, Kind::pair);
    EXPECT_EQ(plain.pairingSeconds, CommandLine::defaultPairingSeconds);
    EXPECT_TRUE(plain.wait);

    for (const QStringList& arguments : {QStringList{u"--pair"_s, u"30"_s, u"--no-wait"_s},
                                         QStringList{u"--pair"_s, u"--no-wait"_s, u"30"_s}}) {
        const CommandLine line = CommandLine::parse(arguments);
        EXPECT_EQ(line.kind, Kind::pair);
        EXPECT_EQ(line.pairingSeconds, 30u);
        EXPECT_FALSE(line.wait);
    }
}

TEST(CommandLine, JsonIsAnOptionOfTheListingsOnly) {
    EXPECT_TRUE(CommandLine::parse({u"devices"_s, u"--json"_s}).json);
    EXPECT_TRUE(CommandLine::parse({u"list"_s, u"--pinned"_s, u"--json"_s}).pinnedOnly);
    EXPECT_EQ(CommandLine::parse({u"devices"_s, u"--pinned"_s}).kind, Kind::invalid);
}

// Each mistake is refused with a reason that names the command.
TEST(CommandLine, MistakesAreRefusedWithAReason) {
    const QStringList mistakes[] = {
        {u"--pause"_s, u"now"_s},
        {u"pin"_s},
        {u"pin"_s, u"a"_s, u"b"_s},
        {u"--settings"_s, u"a"_s, u"b"_s},
        {u"list"_s, u"--all"_s},
        {u"frobnicate"_s},
        {u"--join"_s},
        {u"--pair"_s, u"0"_s},
        {u"--pair"_s, u"-5"_s},
        {u"--pair"_s, u"3m"_s},
        {u"--pair"_s, u"30"_s, u"60"_s},
        {u"unpair"_s},
        {u"pause-device"_s, u"a"_s, u"b"_s},
    };
    for (const QStringList& arguments : mistakes) {
        const CommandLine line = CommandLine::parse(arguments);
        EXPECT_EQ(line.kind, Kind::invalid) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(line.error.contains(arguments.first()))
            << arguments.join(u' ').toStdString() << ": " << line.error.toStdString();
    }
}
} // namespace
