#pragma once

#include "platform/Workspace.h"

// A desktop whose front application tests set; records activations and beeps.
class FakeWorkspace final : public Workspace {
public:
    std::optional<FrontmostApp> frontmost() override {
        ++frontQueries;
        return front;
    }
    bool activate(const FrontmostApp& app) override {
        activated.append(app);
        if (activationBringsToFront)
            front = app;
        return true;
    }
    bool isTrusted() const override { return trusted; }
    bool seesFrontmost() const override { return seesFront; }
    QString howToSeeFrontmost() const override { return howToSee; }
    bool openUrl(const QUrl& url) override {
        opened.append(url);
        return true;
    }
    void beep() override { ++beeps; }
    QList<InstalledApp> installedApps() override { return apps; }

    // A front window of another application.
    static FrontmostApp app(const QString& appId, quint64 window = 0x400001,
                            const QString& windowClass = QString()) {
        FrontmostApp a;
        a.window = window;
        a.pid = qint64(window & 0xffff);
        a.appId = appId;
        a.windowClass = windowClass.isEmpty() ? appId : windowClass;
        a.windowInstance = a.windowClass.toLower();
        return a;
    }

    std::optional<FrontmostApp> front;
    bool trusted = true;
    bool seesFront = true;
    QString howToSee;
    bool activationBringsToFront = true;
    QList<FrontmostApp> activated;
    QList<QUrl> opened;
    QList<InstalledApp> apps;
    int beeps = 0;
    int frontQueries = 0;
};
