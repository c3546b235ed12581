// A main window on the staged codecs with its own temporary folder, user
// hive, scripted user and sound card, for the window's tests.
#pragma once

#include "gui_test_support.hpp"

#include "gui/commands.hpp"
#include "gui/window/main_window.hpp"

#include <QDir>
#include <QTest>

#include <memory>
#include <string>

namespace vntr::gui::test {

// A window on the staged codecs with its own folder, user and sound card.
struct Bench {
    TestPlace place;
    ScriptedPrompts prompts;
    FakeSound sound;
    std::unique_ptr<MainWindow> window;

    explicit Bench(std::string root = VNTR_TEST_STAGE_ROOT) {
        MainWindow::Setup setup;
        setup.config.systemRoot = root;
        setup.config.tempDir = place.Temp().toStdString();
        setup.config.measureQuality = true;
        setup.prompts = &prompts;
        setup.sound = sound.Devices();
        setup.helpFile = VNTR_TEST_HELP_FILE;
        window = std::make_unique<MainWindow>(std::move(setup));
        started = window->Start();
    }
    ~Bench() { window.reset(); }

    MainWindow &w() { return *window; }
    const Layout &layout() { return window->Geometry(); }
    bool Open(const QString &path) {
        prompts.files.push_back(path);
        window->Command(kCmdOpen);
        return window->Core().Original().Exists();
    }
    // The 11 kHz speech: VT180 runs on the down-sampled copy, VT250f11 on
    // the original, VT500f22 cannot take it.
    bool OpenSpeechAt11k() {
        const QString path = place.File("speech11k.wav");
        return WriteSpeechAt11k(path) && Open(path);
    }
    int RowOf(const std::string &name) {
        for (int r = 0; r < window->Rows(); ++r) {
            if (window->SlotAtRow(r) && window->SlotAtRow(r)->Name() == name) return r;
        }
        return -1;
    }
    QPoint BarPoint(int row) { return {layout().Px(100), layout().RowTop(row) + layout().Px(2.5)}; }
    void Click(int row, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(window->Area(), button, {}, BarPoint(row));
    }
    QStringList Status() {
        QStringList lines;
        for (const auto &line : window->Area()->Model().status) lines << QString::fromStdString(line);
        return lines;
    }
    QStringList TempFiles() { return QDir(place.Temp()).entryList(QDir::Files); }
    int Codecs() { return static_cast<int>(window->Core().SlotCount()); }
    bool Installed(const std::string &name) { return RowOf(name) >= 0; }
    bool started = false;
};

} // namespace vntr::gui::test
