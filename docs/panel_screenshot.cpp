// Takes the picture of the panel beside a calculated sheet (docs/panel.png):
// the panel's own window and logic against a headless LibreOffice Calc,
// points typed into a data file as a user types them, calculated, and the
// sheet drawn from the cells and font colours the office holds.
//
//   tersolv_panel_screenshot TEMPLATE.xlsx OUT.png   (run under xvfb-run)
#include <chrono>
#include <thread>
#include <filesystem>
#include <iostream>
#include <string>

#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QTableWidget>
#include <QTest>

#include <com/sun/star/uno/Exception.hpp>

#include "link/uno/calc_application.h"
#include "office_fixture.h"
#include "shell/qt/form1.h"
#include "shell/shell.h"

namespace {

using tersolv::link::uno::testing::TestOffice;
namespace fs = std::filesystem;
namespace css = ::com::sun::star;

// Answers the file dialog with one path and prints the messages instead of
// showing them, so that nothing waits for a click.
class Answers : public tersolv::shell::Prompter {
 public:
  std::string path;
  void ShowMessage(tersolv::link::MessageIcon, const std::string& text) override {
    std::cerr << "message: " << text << '\n';
  }
  std::optional<std::string> ChooseFile(const tersolv::shell::FileRequest&) override { return path; }
  void ProcessEvents() override { QCoreApplication::processEvents(); }
};

// A window picture with a plain title bar carrying its caption.
QPixmap Framed(QWidget& window) {
  const QPixmap inside = window.grab();
  constexpr int kBar = 24;
  QPixmap framed(inside.width() + 2, inside.height() + kBar + 1);
  framed.fill(QColor(0x3b, 0x4a, 0x5e));
  QPainter painter(&framed);
  painter.drawPixmap(1, kBar, inside);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(8, 0, framed.width() - 16, kBar), Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  return framed;
}

QString ColumnName(int column) { return QString(QChar('A' + column - 1)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: tersolv_panel_screenshot TEMPLATE.xlsx OUT.png (under xvfb-run)\n";
    return 2;
  }
  const std::string templatePath = argv[1];
  // Absolute: the panel changes the current folder to its working folder.
  const QString out = QString::fromStdString(fs::absolute(argv[2]).string());
  if (const std::string missing = tersolv::link::uno::testing::OfficeMissing(); !missing.empty()) {
    std::cerr << "LibreOffice is not available: " << missing << '\n';
    return 1;
  }
  // A fresh office profile settles in the first seconds after the start;
  // the picture is taken after that.
  TestOffice::Shared().EnsureRunning();
  std::this_thread::sleep_for(std::chrono::seconds(5));
  TestOffice::Shared().EnsureRunning();
  QApplication application(argc, argv);

  const fs::path root = fs::temp_directory_path() / ("tersolv-screenshot-" + std::to_string(::getpid()));
  fs::create_directories(root / "prog");
  fs::create_directories(root / "home" / "data");
  const std::string program = (root / "prog").string() + "/";
  const std::string data = (root / "home" / "data" / "run1.xlsx").string();
  fs::copy_file(templatePath, program + "Tersolv.xlsx");
  fs::copy_file(templatePath, data);

  int status = 0;
  std::string step = "start";
  const auto began = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::to_string(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count()) + " s";
  };
  try {
    TestOffice& office = TestOffice::Shared();
    tersolv::link::uno::CalcApplication* calc = nullptr;
    tersolv::shell::Form1 form;
    Answers answers;
    answers.path = data;
    tersolv::shell::Environment env;
    env.ProgramFolder = program;
    env.HomeFolder = (root / "home").string();
    env.StartApplication = [&]() -> std::unique_ptr<tersolv::link::Application> {
      auto a = office.Attach('.');
      calc = a.get();
      return a;
    };
    tersolv::shell::Shell shell(form, answers, env);
    form.SetShell(&shell);
    shell.Form_Load();
    if (shell.Ended) throw std::runtime_error("the panel did not start: " + shell.StartError);

    step = "open and type";
    shell.Button_Click(1);  // open run1.xlsx
    shell.MainWindowProc(-1);
    TestOffice::SetActiveSheet(*calc, data, "Ternary system");
    const char* rows[][4] = {{"25", "0.1", "0", "0"},     {"25", "0.1", "0.05", "1"}, {"25", "0.1", "0.05", "6.5"},
                             {"25", "0.1", "0.5", "1"},   {"60", "10", "1", "2"},     {"100", "sat", "0", "3"},
                             {"150", "10", "0.8", "4"},   {"200", "20", "0.2", "8"},  {"250", "50", "3", "5"},
                             {"300", "100", "2", "5"}};
    int r = 4;
    for (const auto& row : rows) {
      for (int c = 0; c < 4; ++c) TestOffice::UserEdit(*calc, data, "Ternary system", r, c + 1, row[c]);
      ++r;
    }
    step = "calculate";
    shell.MainWindowProc(1);  // back to the panel: the sheet is read
    shell.Button_Click(2);    // calculate
    step = "draw the sheet";
    const int lastRow = r - 1;

    // The sheet as the office holds it.
    QTableWidget table(lastRow, 12);
    table.setWindowTitle("run1.xlsx - LibreOffice Calc (cells as the office holds them)");
    QStringList columns;
    for (int c = 1; c <= 12; ++c) columns << ColumnName(c);
    table.setHorizontalHeaderLabels(columns);
    auto& sheet = *shell.DataSheet;
    for (int row = 1; row <= lastRow; ++row) {
      long rgb = 0;
      for (int column = 1; column <= 12; ++column) {
        step = "text of row " + std::to_string(row) + ", column " + std::to_string(column);
        const QString text = QString::fromStdString(sheet.CellText(row, column));
        bool number = false;
        const double value = text.toDouble(&number);
        auto* item = new QTableWidgetItem(number ? QString::number(value, 'g', 6) : text);
        if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // The mark covers the row's result cells (5 to 12) alike.
        if (row >= 4 && column == 5) {
          step = "font colour of row " + std::to_string(row);
          rgb = TestOffice::FontColor(*calc, data, "Ternary system", row, column);
        }
        if (column == 1) rgb = 0;
        item->setForeground(QColor(static_cast<QRgb>(column >= 5 ? rgb : 0)));
        if (row == 1 || row == 3) {
          QFont font = item->font();
          font.setBold(true);
          item->setFont(font);
        }
        table.setItem(row - 1, column - 1, item);
      }
    }
    for (int c = 0; c < 12; ++c) table.setColumnWidth(c, c < 4 ? 70 : 92);
    table.verticalHeader()->setDefaultSectionSize(22);
    table.setWordWrap(false);
    table.resize(70 * 4 + 92 * 8 + 40, 22 * lastRow + 30);
    table.move(0, 0);
    table.show();
    form.move(table.width() + 20, 0);
    form.show();
    QTest::qWait(300);

    step = "compose";
    const QPixmap left = Framed(table);
    const QPixmap right = Framed(form);
    QPixmap picture(left.width() + right.width() + 36, std::max(left.height(), right.height()) + 24);
    picture.fill(QColor(0xd8, 0xdc, 0xe2));
    QPainter painter(&picture);
    painter.drawPixmap(12, 12, left);
    painter.drawPixmap(left.width() + 24, 12, right);
    painter.end();
    if (!picture.save(out)) throw std::runtime_error("cannot write " + out.toStdString());
    std::cerr << "wrote " << out.toStdString() << '\n';

    step = "close";
    try {
      TestOffice::CloseAllDocuments(*calc);
    } catch (...) {
      // The picture is taken; the office is stopped at exit anyway.
    }
    form.SetShell(nullptr);
    shell.Unload();
  } catch (const std::exception& e) {
    std::cerr << "tersolv_panel_screenshot: at " << step << " (" << elapsed() << "): " << e.what() << '\n';
    status = 1;
  } catch (const css::uno::Exception& e) {
    std::cerr << "tersolv_panel_screenshot: at " << step << ": "
              << rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr() << '\n';
    status = 1;
  } catch (...) {
    std::cerr << "tersolv_panel_screenshot: an exception of the office at " << step << "\n";
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return status;
}
