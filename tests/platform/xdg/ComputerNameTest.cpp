#include "platform/xdg/ComputerName.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(ComputerName, ReadsThePrettyHostnameAsTheShellWould) {
    struct Case {
        const char* info;
        const char* name;
    };
    const Case cases[] = {
        {"PRETTY_HOSTNAME=\"Ada's Laptop\"\n", "Ada's Laptop"},
        {"CHASSIS=laptop\nPRETTY_HOSTNAME='Studio \"B\"'\nDEPLOYMENT=x\n", "Studio \"B\""},
        {"PRETTY_HOSTNAME=\"say \\\"hi\\\" \\\\o/\"", "say \"hi\" \\o/"},
        {"PRETTY_HOSTNAME=Bare\\ name  \n", "Bare name"},
        {"# PRETTY_HOSTNAME=commented\nICON_NAME=computer\n", ""},
        {"PRETTY_HOSTNAME=\"first\"\nPRETTY_HOSTNAME=\"second\"\n", "second"},
        {"PRETTY_HOSTNAME_OLD=\"no\"\n", ""},
        {"PRETTY_HOSTNAME=\"Küche\"", "Küche"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ComputerName::prettyHostname(QByteArray(c.info)), QString::fromUtf8(c.name))
            << c.info;
}

TEST(ComputerName, FallsBackToTheHostName) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"machine-info"_s);
    EXPECT_EQ(ComputerName::current(path), QSysInfo::machineHostName());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PRETTY_HOSTNAME=\"Workshop PC\"\n");
    file.close();
    EXPECT_EQ(ComputerName::current(path), u"Workshop PC"_s);
}
