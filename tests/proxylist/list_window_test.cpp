// The proxy list buttons of the real main window (offscreen), with the file
// dialogs and message boxes answered by script.
#include "list_test_support.h"
#include "shell/actions.h"
#include "shell/application.h"
#include "shell/control_names.h"
#include "shell/main_window.h"
#include "shell/qt_text.h"
#include "text/codepage.h"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>
#include <random>

using namespace kestrova;

class ListWindowTest : public QObject {
    Q_OBJECT

private:
    void click(std::string_view name) {
        QAbstractButton* button = window_->button(name);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void type_proxies(const QString& text) {
        window_->findChild<QPlainTextEdit*>(qs(controls::proxy_input))->setPlainText(text);
    }
    QString caption() { return window_->findChild<QGroupBox*>(qs(controls::proxy_frame))->title(); }
    QTableView* list() { return window_->findChild<QTableView*>(qs(controls::proxy_list)); }
    /// What the list view shows in a column, row by row.
    QStringList shown(int column) {
        QStringList cells;
        QAbstractItemModel* model = list()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            cells << model->index(row, column).data().toString();
        return cells;
    }
    QStringList lines(std::initializer_list<const char*> texts) {
        QStringList result;
        for (const char* text : texts)
            result << qs(text);
        return result;
    }

    std::unique_ptr<MainWindow> window_;
    std::shared_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<testing::ScratchFolder> folder_;

private Q_SLOTS:
    void init();
    void cleanup();
    void addMovesTheInputBoxIntoTheList();
    void importAndExportGoThroughTheDialogs();
    void removeDuplicatesReportsAndTheViewFollows();
    void clearEmptiesListAndView();
    void aClearDuringALongAddLeavesTheRestOfTheBatch();
    void aClearDuringRemovingDuplicatesEndsIt();
    void theViewHearsOfEveryChangeConsistently();
};

void ListWindowTest::init() {
    window_ = std::make_unique<MainWindow>();
    dialogs_ = std::make_shared<ScriptedDialogs>();
    window_->port()->set_dialogs(dialogs_);
    connect_actions(*window_);
    window_->show_centred();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    folder_ = std::make_unique<testing::ScratchFolder>();
}

void ListWindowTest::cleanup() {
    window_.reset();
    folder_.reset();
}

void ListWindowTest::addMovesTheInputBoxIntoTheList() {
    type_proxies(qs("1.1.1.1:80\n代理:81\n"));
    click(controls::add_button);
    QCOMPARE(caption(), qs("代理(2)"));
    QVERIFY(
        window_->findChild<QPlainTextEdit*>(qs(controls::proxy_input))->toPlainText().isEmpty());
    QTRY_COMPARE(list()->model()->rowCount(), 2);
    QCOMPARE(shown(0), lines({"1", "2"}));
    QCOMPARE(shown(1), lines({"1.1.1.1:80", "代理:81"}));
    QCOMPARE(shown(2), lines({"", ""}));
}

void ListWindowTest::importAndExportGoThroughTheDialogs() {
    std::string file = folder_->file("in.txt");
    testing::write_file(file, "1.1.1.1:80\n2.2.2.2:81\r\n");
    dialogs_->queue_file_choice(qs(file));
    click(controls::import_button);
    QCOMPARE(caption(), qs("代理(2)"));
    QTRY_COMPARE(shown(2), lines({"等待验证", "等待验证"}));

    dialogs_->queue_file_choice(qs(folder_->file("out")));
    click(controls::export_button);
    QCOMPARE(testing::read_file(folder_->file("out.txt")),
             std::string("1.1.1.1:80\r\n2.2.2.2:81\r\n"));
    QCOMPARE(dialogs_->messages(), std::vector<QString>{qs("保存成功！")});

    std::vector<FileDialogRequest> requests = dialogs_->file_requests();
    QCOMPARE(requests.size(), 2u);
    QCOMPARE(requests[0].dialog, std::string(controls::import_dialog));
    QCOMPARE(requests[1].dialog, std::string(controls::export_dialog));
    QVERIFY(!requests[1].confirm_overwrite);
    QCOMPARE(requests[1].initial_directory, folder_->path().string());
}

void ListWindowTest::removeDuplicatesReportsAndTheViewFollows() {
    QString box;
    for (int i = 0; i < 3000; ++i)
        box += QStringLiteral("10.0.%1.%2:80\n").arg(i % 1000 / 100).arg(i % 100);
    type_proxies(box);
    click(controls::add_button);
    QTRY_COMPARE(list()->model()->rowCount(), 3000);
    list()->selectRow(5);

    click(controls::dedup_button);
    QCOMPARE(dialogs_->messages(), std::vector<QString>{qs("共删除2000个重复内容！")});
    QCOMPARE(caption(), qs("代理(1000)"));
    QTRY_COMPARE(list()->model()->rowCount(), 1000);
    QStringList numbers = shown(0);
    QStringList addresses = shown(1);
    for (int row = 0; row < 1000; ++row) {
        QCOMPARE(numbers[row], QString::number(row + 1));
        QCOMPARE(addresses[row], QStringLiteral("10.0.%1.%2:80").arg(row / 100).arg(row % 100));
    }
}

void ListWindowTest::clearEmptiesListAndView() {
    type_proxies(QStringLiteral("a:1\nb:2"));
    click(controls::add_button);
    QTRY_COMPARE(list()->model()->rowCount(), 2);
    click(controls::clear_button);
    QCOMPARE(caption(), qs("代理(0)"));
    QCOMPARE(window_->port()->row_count(), 0u);
    QCOMPARE(list()->model()->rowCount(), 0);
}

// The add lets messages through after its first slice of work; the timer
// clicks the clear button there, and the add goes on after it.
void ListWindowTest::aClearDuringALongAddLeavesTheRestOfTheBatch() {
    const int lines_in_box = 300'000;
    QString box;
    for (int i = 1; i <= lines_in_box; ++i)
        box += QStringLiteral("10.%1.%2.1:80\n").arg(i / 256 % 256).arg(i % 256);
    type_proxies(box);
    bool cleared = false;
    QTimer::singleShot(0, this, [&] {
        cleared = true;
        click(controls::clear_button);
    });
    click(controls::add_button);
    QVERIFY(cleared);
    WindowPort& port = *window_->port();
    std::size_t rows = port.row_count();
    QVERIFY(rows > 0 && rows < static_cast<std::size_t>(lines_in_box));
    int first = std::stoi(port.read_cell(0, column::number));
    QCOMPARE(rows, static_cast<std::size_t>(lines_in_box - first + 1));
    QCOMPARE(port.read_cell(rows - 1, column::number), std::to_string(lines_in_box));
    QCOMPARE(caption(), qs("代理(") + QString::number(rows) + QStringLiteral(")"));
    QTRY_COMPARE(list()->model()->rowCount(), static_cast<int>(rows));
}

void ListWindowTest::aClearDuringRemovingDuplicatesEndsIt() {
    WindowPort& port = *window_->port();
    // Every address twice in a row, so the first slice of work removes some.
    for (int i = 0; i < 400'000; ++i)
        port.write_cell(port.append_row(), column::address, std::to_string(i / 2));
    QTimer::singleShot(0, this, [&] { click(controls::clear_button); });
    click(controls::dedup_button);
    QCOMPARE(port.row_count(), 0u);
    QCOMPARE(dialogs_->messages().size(), 1u);
    QVERIFY(dialogs_->messages()[0].startsWith(qs("共删除")));
    QCOMPARE(caption(), qs("代理(0)"));
    QTRY_COMPARE(list()->model()->rowCount(), 0);
}

// The model tells the view of changes in batches; Qt's model tester checks
// every signal against the model, and in the end the view shows the rows.
void ListWindowTest::theViewHearsOfEveryChangeConsistently() {
    ProxyTableModel& model = window_->rows();
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::mt19937 random(5);
    int next = 0;
    for (int step = 0; step < 3000; ++step) {
        std::size_t rows = model.rows().size();
        unsigned roll = random() % 100;
        if (roll < 40 || rows == 0)
            model.write_cell(model.append_row(), column::address, "a" + std::to_string(next++));
        else if (roll < 70)
            model.remove_row(random() % rows);
        else if (roll < 85)
            model.write_cell(random() % rows, column::number, std::to_string(step));
        else if (roll == 85)
            model.remove_all_rows();
        else if (roll < 95)
            QCoreApplication::processEvents();
        else
            model.announce_rows();
        if (QTest::currentTestFailed())
            return;
    }
    QTRY_COMPARE(static_cast<std::size_t>(model.rowCount()), model.rows().size());
    for (int row = 0; row < model.rowCount(); ++row)
        for (int column = 0; column < ProxyRows::column_count; ++column)
            QCOMPARE(model.index(row, column).data().toString(),
                     to_qstring(model.rows().read(static_cast<std::size_t>(row), column)));
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepare_platform();
    QApplication app(argc, argv);
    ListWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "list_window_test.moc"
