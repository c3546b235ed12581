// The dialogs as the user sees them: Select Codecs, the codec options, the
// record settings and About.
#include "gui/dialogs/about_dialog.hpp"
#include "gui/dialogs/codec_options_dialog.hpp"
#include "gui/dialogs/control_ids.hpp"
#include "gui/dialogs/record_settings_dialog.hpp"
#include "gui/dialogs/select_codecs_dialog.hpp"
#include "gui/window/prompts.hpp"

#include <vntr/codec_api.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <map>

using namespace vntr::gui;

namespace {

// Clicks a check box or radio button on its indicator, which is what takes the click.
void ClickIndicator(QAbstractButton *button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

template <class W>
W *Control(QWidget &dialog, int id) {
    W *widget = dialog.findChild<W *>(ControlName(id));
    if (!widget) qFatal("control %d is missing", id);
    return widget;
}

QStringList Items(QListWidget *list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
}

// Answers the next modal box or file dialog as a user would, and notes what it showed.
struct ModalCatcher {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QStringList filters;
    QStringList shownFilters; // the list of types as the user reads it
    bool saveDialog = false;
    std::function<void(QWidget *)> answer;

    void Arm() {
        QTimer::singleShot(0, [this] { Poll(); });
    }
    void Poll() {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
        } else if (auto *files = qobject_cast<QFileDialog *>(modal)) {
            title = files->windowTitle();
            filters = files->nameFilters();
            shownFilters.clear();
            if (auto *types = files->findChild<QComboBox *>("fileTypeCombo")) {
                for (int i = 0; i < types->count(); ++i) shownFilters << types->itemText(i);
            }
            saveDialog = files->acceptMode() == QFileDialog::AcceptSave;
        } else {
            QTimer::singleShot(10, [this] { Poll(); });
            return;
        }
        answer(modal);
    }
};

const std::vector<std::string> kDescriptions{"Alpha coder", "Beta coder", "Gamma coder", "Delta coder"};

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void selectCodecsShowsBothListsInSlotOrder();
    void selectCodecsWithEverythingSelected();
    void selectCodecsHighlightFollowsTheClick();
    void selectCodecsButtonsAndDoubleClickMove();
    void codecOptionsForTheDualRateCoder();
    void codecOptionsForAVadOnlyCodec();
    void codecOptionsKeepsStoredChoices();
    void recordSettingsShowsTheFormat();
    void recordSettingsMakesTheFormatWord();
    void aboutAnimatesItsBar();
    void messageBoxesCarryTitleAndIcon();
    void questionsOfferTheirButtons();
    void fileChoosersUseTheirTitlesAndFilters();
    void allFilesListsNamesWithoutADot();
};

void DialogsTest::selectCodecsShowsBothListsInSlotOrder() {
    SelectCodecsDialog dialog(kDescriptions, {true, false, true, false});
    QCOMPARE(dialog.windowTitle(), QString("Select preferred algorithms..."));
    auto *unselected = Control<QListWidget>(dialog, kIdUnselectedList);
    auto *selected = Control<QListWidget>(dialog, kIdSelectedList);
    QCOMPARE(Items(unselected), (QStringList{"Beta coder", "Delta coder"}));
    QCOMPARE(Items(selected), (QStringList{"Alpha coder", "Gamma coder"}));
    // Something unselected: its first entry is highlighted, Select enabled.
    QCOMPARE(unselected->currentRow(), 0);
    QVERIFY(selected->selectedItems().isEmpty());
    QVERIFY(Control<QPushButton>(dialog, kIdSelect)->isEnabled());
    QVERIFY(!Control<QPushButton>(dialog, kIdDeselect)->isEnabled());
    QCOMPARE(Control<QPushButton>(dialog, kIdSelect)->text(), QString("&Select >>"));
    QCOMPARE(Control<QPushButton>(dialog, kIdDeselect)->text(), QString("&Deselect <<"));
    QCOMPARE(Control<QPushButton>(dialog, kIdOk)->text(), QString("&OK"));
    QCOMPARE(Control<QPushButton>(dialog, kIdCancel)->text(), QString("&Cancel"));
    const QStringList labels = [&] {
        QStringList texts;
        for (auto *label : dialog.findChildren<QLabel *>()) texts << label->text();
        return texts;
    }();
    QVERIFY(labels.contains("&Unselected algorithms:"));
    QVERIFY(labels.contains("&Selected algorithms:"));
}

void DialogsTest::selectCodecsWithEverythingSelected() {
    SelectCodecsDialog dialog(kDescriptions, {true, true, true, true});
    QCOMPARE(Control<QListWidget>(dialog, kIdUnselectedList)->count(), 0);
    QCOMPARE(Control<QListWidget>(dialog, kIdSelectedList)->currentRow(), 0);
    QVERIFY(!Control<QPushButton>(dialog, kIdSelect)->isEnabled());
    QVERIFY(Control<QPushButton>(dialog, kIdDeselect)->isEnabled());
    // Cancel hands back the selection it started with.
    QCOMPARE(dialog.Result(), (std::vector<bool>{true, true, true, true}));
}

void DialogsTest::selectCodecsHighlightFollowsTheClick() {
    SelectCodecsDialog dialog(kDescriptions, {true, false, true, false});
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *unselected = Control<QListWidget>(dialog, kIdUnselectedList);
    auto *selected = Control<QListWidget>(dialog, kIdSelectedList);
    const QRect gamma = selected->visualItemRect(selected->item(1));
    QTest::mouseClick(selected->viewport(), Qt::LeftButton, {}, gamma.center());
    QCOMPARE(selected->currentRow(), 1);
    QVERIFY(unselected->selectedItems().isEmpty());
    QVERIFY(!Control<QPushButton>(dialog, kIdSelect)->isEnabled());
    QVERIFY(Control<QPushButton>(dialog, kIdDeselect)->isEnabled());
    dialog.grab().save(QString(VNTR_TEST_OUTPUT_DIR) + "/dialog-select-codecs.png");
    const QRect beta = unselected->visualItemRect(unselected->item(0));
    QTest::mouseClick(unselected->viewport(), Qt::LeftButton, {}, beta.center());
    QVERIFY(selected->selectedItems().isEmpty());
    QVERIFY(Control<QPushButton>(dialog, kIdSelect)->isEnabled());
    QVERIFY(!Control<QPushButton>(dialog, kIdDeselect)->isEnabled());
}

void DialogsTest::selectCodecsButtonsAndDoubleClickMove() {
    SelectCodecsDialog dialog(kDescriptions, {true, false, true, false});
    auto *unselected = Control<QListWidget>(dialog, kIdUnselectedList);
    auto *selected = Control<QListWidget>(dialog, kIdSelectedList);
    // Select moves "Beta" between Alpha and Gamma and keeps it highlighted there.
    QTest::mouseClick(Control<QPushButton>(dialog, kIdSelect), Qt::LeftButton);
    QCOMPARE(Items(selected), (QStringList{"Alpha coder", "Beta coder", "Gamma coder"}));
    QCOMPARE(Items(unselected), QStringList{"Delta coder"});
    QCOMPARE(selected->currentRow(), 1);
    QVERIFY(Control<QPushButton>(dialog, kIdDeselect)->isEnabled());
    QVERIFY(!Control<QPushButton>(dialog, kIdSelect)->isEnabled());
    // A double click moves an entry the other way.
    emit selected->itemDoubleClicked(selected->item(0));
    QCOMPARE(Items(unselected), (QStringList{"Alpha coder", "Delta coder"}));
    QCOMPARE(unselected->currentRow(), 0);
    QCOMPARE(dialog.Result(), (std::vector<bool>{false, true, true, false}));
    // Deselect with the button empties the list entry by entry.
    selected->setCurrentRow(0);
    QTest::mouseClick(Control<QPushButton>(dialog, kIdDeselect), Qt::LeftButton);
    selected->setCurrentRow(0);
    QTest::mouseClick(Control<QPushButton>(dialog, kIdDeselect), Qt::LeftButton);
    QCOMPARE(selected->count(), 0);
    QCOMPARE(Items(unselected), (QStringList{"Alpha coder", "Beta coder", "Gamma coder", "Delta coder"}));
    QCOMPARE(dialog.Result(), (std::vector<bool>{false, false, false, false}));
    QVERIFY(!Control<QPushButton>(dialog, kIdDeselect)->isEnabled());
}

void DialogsTest::codecOptionsForTheDualRateCoder() {
    CodecOptionsDialog dialog("VT4864v6", CODEC_OPT_RATES, 0);
    QCOMPARE(dialog.windowTitle(), QString("Options settings..."));
    QCOMPARE(Control<QLabel>(dialog, kIdCodecName)->text(), QString("VT4864v6"));
    QCOMPARE(Control<QGroupBox>(dialog, kIdGeneralGroup)->title(), QString("General Options :"));
    QCOMPARE(Control<QGroupBox>(dialog, kIdRateGroup)->title(), QString());
    auto *vad = Control<QCheckBox>(dialog, kIdVad);
    auto *r4800 = Control<QRadioButton>(dialog, kId4800);
    auto *r6400 = Control<QRadioButton>(dialog, kId6400);
    QVERIFY(!vad->isEnabled());
    QVERIFY(r4800->isEnabled() && r6400->isEnabled());
    QVERIFY(!r4800->isChecked());
    QVERIFY(r6400->isChecked());
    // OK right away stores 6400.
    QCOMPARE(dialog.OptionWord(), 0x20000u);
    // The radio buttons exclude each other.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ClickIndicator(r4800);
    QVERIFY(r4800->isChecked() && !r6400->isChecked());
    dialog.grab().save(QString(VNTR_TEST_OUTPUT_DIR) + "/dialog-codec-options.png");
    QCOMPARE(dialog.OptionWord(), 0x10000u);
}

void DialogsTest::codecOptionsForAVadOnlyCodec() {
    CodecOptionsDialog dialog("VT15", CODEC_OPT_VAD, 0);
    auto *vad = Control<QCheckBox>(dialog, kIdVad);
    QVERIFY(vad->isEnabled());
    QVERIFY(!vad->isChecked());
    QVERIFY(!Control<QRadioButton>(dialog, kId4800)->isEnabled());
    QVERIFY(!Control<QRadioButton>(dialog, kId6400)->isEnabled());
    QVERIFY(!Control<QRadioButton>(dialog, kId4800)->isChecked());
    QVERIFY(!Control<QRadioButton>(dialog, kId6400)->isChecked());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ClickIndicator(vad);
    QCOMPARE(dialog.OptionWord(), 0x1u);
    ClickIndicator(vad);
    QCOMPARE(dialog.OptionWord(), 0x0u);
}

void DialogsTest::codecOptionsKeepsStoredChoices() {
    CodecOptionsDialog dialog("VT4864v6", CODEC_OPT_RATES | CODEC_OPT_VAD, CODEC_OPT_4800 | CODEC_OPT_VAD);
    QVERIFY(Control<QCheckBox>(dialog, kIdVad)->isChecked());
    QVERIFY(Control<QRadioButton>(dialog, kId4800)->isChecked());
    QVERIFY(!Control<QRadioButton>(dialog, kId6400)->isChecked());
    QCOMPARE(dialog.OptionWord(), 0x10001u);
}

void DialogsTest::recordSettingsShowsTheFormat() {
    RecordSettingsDialog standard(CODEC_FMT_PCM16_MONO_8KHZ);
    QCOMPARE(standard.windowTitle(), QString("Record settings..."));
    QCOMPARE(Control<QGroupBox>(standard, kIdRateBox)->title(), QString("Sampling frequency:"));
    QCOMPARE(Control<QGroupBox>(standard, kIdChannelBox)->title(), QString("Number of channels"));
    QCOMPARE(Control<QGroupBox>(standard, kIdBitsBox)->title(), QString("Number of bits per sample"));
    const QStringList rates{"8 kHz", "11 kHz", "12 kHz", "16 kHz", "22 kHz", "24 kHz", "32 kHz", "44 kHz", "48 kHz"};
    for (int i = 0; i < rates.size(); ++i) {
        auto *button = Control<QRadioButton>(standard, kIdRate8k + i);
        QCOMPARE(button->text(), rates[i]);
        QCOMPARE(button->isChecked(), i == 0);
    }
    QVERIFY(Control<QRadioButton>(standard, kIdMono)->isChecked());
    QVERIFY(Control<QRadioButton>(standard, kId16Bit)->isChecked());
    QCOMPARE(Control<QRadioButton>(standard, kIdStereo)->text(), QString("STEREO"));
    QCOMPARE(Control<QRadioButton>(standard, kId8Bit)->text(), QString("8 BIT"));
    RecordSettingsDialog cd(0x800000 | 0x200 | 0x1000 | 0x2);
    QVERIFY(Control<QRadioButton>(cd, kIdRate8k + 7)->isChecked());
    QVERIFY(Control<QRadioButton>(cd, kIdStereo)->isChecked());
    QVERIFY(Control<QRadioButton>(cd, kId8Bit)->isChecked());
    // A format without a rate shows 8 kHz.
    RecordSettingsDialog odd(0x2);
    QVERIFY(Control<QRadioButton>(odd, kIdRate8k)->isChecked());
}

void DialogsTest::recordSettingsMakesTheFormatWord() {
    RecordSettingsDialog dialog(CODEC_FMT_PCM16_MONO_8KHZ);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ClickIndicator(Control<QRadioButton>(dialog, kIdRate8k + 1));
    QCOMPARE(dialog.Format(), 0x22102u); // 11 kHz, 16 bit, mono
    QVERIFY(!Control<QRadioButton>(dialog, kIdRate8k)->isChecked());
    ClickIndicator(Control<QRadioButton>(dialog, kIdStereo));
    ClickIndicator(Control<QRadioButton>(dialog, kId8Bit));
    ClickIndicator(Control<QRadioButton>(dialog, kIdRate8k + 3));
    QCOMPARE(dialog.Format(), 0x80000u | 0x200u | 0x1000u | 0x2u);
    dialog.grab().save(QString(VNTR_TEST_OUTPUT_DIR) + "/dialog-record-settings.png");
    QVERIFY(!Control<QRadioButton>(dialog, kIdMono)->isChecked());
}

void DialogsTest::aboutAnimatesItsBar() {
    AboutDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("About Vantre Quibell Evaluator..."));
    QStringList texts;
    for (auto *label : dialog.findChildren<QLabel *>()) texts << label->text();
    QVERIFY(texts.contains("Vantre Quibell Evaluator"));
    QVERIFY(texts.contains("Version 5.00 for WIN32"));
    QCOMPARE(dialog.BarValue(), 70);
    QVERIFY(dialog.Animating());
    QTRY_COMPARE_WITH_TIMEOUT(dialog.BarValue(), 35, 1500);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.BarValue(), 17, 1500);
    dialog.grab().save(QString(VNTR_TEST_OUTPUT_DIR) + "/dialog-about.png");
    auto *ok = Control<QPushButton>(dialog, kIdAboutOk);
    QCOMPARE(ok->text(), QString("&OK"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!dialog.Animating());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void DialogsTest::messageBoxesCarryTitleAndIcon() {
    DesktopPrompts prompts;
    ModalCatcher catcher;
    catcher.answer = [](QWidget *box) { static_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click(); };
    catcher.Arm();
    prompts.Message(nullptr, "Vantre QBL Evaluator: Error", vntr::evaluator::MessageIcon::Error, "Could not play file");
    QCOMPARE(catcher.title, QString("Vantre QBL Evaluator: Error"));
    QCOMPARE(catcher.text, QString("Could not play file"));
    QCOMPARE(catcher.icon, QMessageBox::Critical);
    QCOMPARE(catcher.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    catcher.Arm();
    prompts.Message(nullptr, "WARNING", vntr::evaluator::MessageIcon::Warning, "w");
    QCOMPARE(catcher.icon, QMessageBox::Warning);
}

void DialogsTest::questionsOfferTheirButtons() {
    using vntr::evaluator::Answer;
    using vntr::evaluator::QuestionButtons;
    DesktopPrompts prompts;
    ModalCatcher catcher;
    catcher.answer = [](QWidget *box) { static_cast<QMessageBox *>(box)->button(QMessageBox::No)->click(); };
    catcher.Arm();
    QCOMPARE(prompts.Question(nullptr, "Vantre QBL Evaluator", "Do you want to save the current session?",
                              QuestionButtons::YesNoCancel),
             Answer::No);
    QCOMPARE(catcher.title, QString("Vantre QBL Evaluator"));
    QCOMPARE(catcher.icon, QMessageBox::Question);
    QCOMPARE(catcher.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    // Escape is Cancel where Cancel is offered, else No.
    catcher.answer = [](QWidget *box) { QTest::keyClick(box, Qt::Key_Escape); };
    catcher.Arm();
    QCOMPARE(prompts.Question(nullptr, "Vantre QBL Evaluator", "q", QuestionButtons::YesNoCancel), Answer::Cancel);
    catcher.Arm();
    QCOMPARE(prompts.Question(nullptr, "Vantre QBL Evaluator", "q", QuestionButtons::YesNo), Answer::No);
    QCOMPARE(catcher.buttons, QMessageBox::Yes | QMessageBox::No);
    catcher.answer = [](QWidget *box) { static_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click(); };
    catcher.Arm();
    QCOMPARE(prompts.Question(nullptr, "Vantre QBL Evaluator", "q", QuestionButtons::YesNo), Answer::Yes);
}

void DialogsTest::fileChoosersUseTheirTitlesAndFilters() {
    QTemporaryDir folder;
    DesktopPrompts prompts;
    ModalCatcher catcher;
    const QString typed = folder.path() + "/comparison";
    catcher.answer = [&](QWidget *dialog) {
        auto *files = static_cast<QFileDialog *>(dialog);
        files->selectFile(typed);
        QMetaObject::invokeMethod(files, "accept"); // QFileDialog::accept is protected
    };
    catcher.Arm();
    const auto chosen = prompts.ChooseFile(nullptr, FilePurpose::SaveSession);
    QCOMPARE(catcher.title, QString("Save session as..."));
    QVERIFY(catcher.saveDialog);
    QCOMPARE(catcher.shownFilters, (QStringList{"Session files (*.qbl)", "All Files (*.*)"}));
    QVERIFY(chosen.has_value());
    QCOMPARE(*chosen, typed + ".qbl"); // the type's extension is added
    // Closing the chooser gives nothing.
    catcher.answer = [](QWidget *dialog) { static_cast<QFileDialog *>(dialog)->reject(); };
    catcher.Arm();
    QVERIFY(!prompts.ChooseFile(nullptr, FilePurpose::OpenOriginal).has_value());
    QCOMPARE(catcher.title, QString("Open original file..."));
    QVERIFY(!catcher.saveDialog);
    QCOMPARE(catcher.shownFilters, (QStringList{"Wave files (*.wav)", "All Files (*.*)"}));
}

// What each type of the open chooser lists: "All Files (*.*)" lists every
// file, with or without a dot in its name.
void DialogsTest::allFilesListsNamesWithoutADot() {
    QTemporaryDir folder;
    for (const char *name : {"speech.wav", "README", "notes.txt"}) {
        QFile file(folder.path() + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    DesktopPrompts prompts;
    // The chooser starts in the folder of the last file chosen.
    ModalCatcher catcher;
    catcher.answer = [&](QWidget *dialog) {
        auto *files = static_cast<QFileDialog *>(dialog);
        files->selectFile(folder.path() + "/speech.wav");
        QMetaObject::invokeMethod(files, "accept");
    };
    catcher.Arm();
    QVERIFY(prompts.ChooseFile(nullptr, FilePurpose::OpenOriginal).has_value());
    std::map<QString, QStringList> listed;
    catcher.answer = [&](QWidget *dialog) {
        auto *files = static_cast<QFileDialog *>(dialog);
        auto *types = files->findChild<QComboBox *>("fileTypeCombo");
        auto *view = files->findChild<QListView *>("listView");
        QVERIFY(types && view);
        for (int i = 0; i < types->count(); ++i) {
            types->setCurrentIndex(i);
            emit types->activated(i); // as a user's choice
            const QString type = types->itemText(i);
            QTRY_VERIFY(view->model()->rowCount(view->rootIndex()) > 0);
            QTest::qWait(100); // the folder is read in the background
            for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r) {
                listed[type] << view->model()->index(r, 0, view->rootIndex()).data().toString();
            }
            listed[type].sort();
        }
        files->reject();
    };
    catcher.Arm();
    QVERIFY(!prompts.ChooseFile(nullptr, FilePurpose::OpenOriginal).has_value());
    QCOMPARE(listed["Wave files (*.wav)"], QStringList{"speech.wav"});
    QCOMPARE(listed["All Files (*.*)"], (QStringList{"README", "notes.txt", "speech.wav"}));
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
