#include "webview/printing_qt.h"

#include <algorithm>
#include <memory>

#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "text/text.h"
#include "webview/test_hooks_qt.h"

namespace WebView {

namespace {

namespace look = printer_dialog;

const wchar_t kTestPrinterName[] = L"Corvel Test PDF";

constexpr int kDefaultRole = Qt::UserRole + 1;

QString Q(const std::wstring& text) {
  return QString::fromStdWString(text);
}

QColor Colour(PrinterDialogColour colour) {
  return QColor(colour.red, colour.green, colour.blue);
}

// "#RRGGBB" for the style sheet.
QString Css(PrinterDialogColour colour) {
  return Colour(colour).name(QColor::HexRgb);
}

// The dialog's colours and fonts (printers.h) as a style sheet.
QString DialogStyle() {
  return QStringLiteral(
             "QDialog { background: %1; }\n"
             "QLabel#prompt { color: %2; font-size: %3px; font-weight: %4; }\n"
             "QLabel#notice { color: %5; font-size: %6px; }\n"
             "QListWidget { background: %7; color: %5; border: none; outline: none; }\n"
             "QPushButton { border-radius: %8px; font-size: %6px; font-weight: %9; min-width: 96px; "
             "min-height: 32px; }\n")
             .arg(Css(look::kDialogBackground), Css(look::kLabelText),
                  QString::number(look::kTitleFontPixels), QString::number(look::kTitleFontWeight),
                  Css(look::kListText), QString::number(look::kTextFontPixels), Css(look::kListBackground),
                  QString::number(look::kButtonCorner), QString::number(look::kSemiboldFontWeight)) +
         QStringLiteral(
             "QPushButton#print { background: %1; border: 1px solid %2; color: %3; }\n"
             "QPushButton#print:pressed { background: %4; border-color: %4; }\n"
             "QPushButton#cancel { background: %5; border: 1px solid %6; color: %7; }\n"
             "QPushButton#cancel:pressed { background: %8; border-color: %9; }\n")
             .arg(Css(look::kPrintFill), Css(look::kPrintBorder), Css(look::kWhite), Css(look::kPrintPressed),
                  Css(look::kCancelFill), Css(look::kCancelBorder), Css(look::kCancelText),
                  Css(look::kCancelPressedFill), Css(look::kCancelPressedBorder));
}

// Rounded cards: blue when selected, a badge on the default printer.
class PrinterItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return QSize(option.rect.width(), look::kItemHeight);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const bool isDefault = index.data(kDefaultRole).toBool();
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillRect(option.rect, Colour(look::kListBackground));
    const QRect card =
        option.rect.adjusted(look::kCardInsetX, look::kCardInsetY, -look::kCardInsetX, -look::kCardInsetY);
    painter->setPen(QPen(Colour(selected ? look::kSelectedBorder : look::kItemBorder), 1));
    painter->setBrush(Colour(selected ? look::kSelectedFill : look::kItemFill));
    painter->drawRoundedRect(QRectF(card).adjusted(0.5, 0.5, -0.5, -0.5), look::kCardCorner,
                             look::kCardCorner);

    QFont font = option.font;
    font.setPixelSize(look::kTextFontPixels);
    font.setWeight(selected ? QFont::DemiBold : QFont::Normal);
    painter->setFont(font);
    painter->setPen(Colour(selected ? look::kWhite : look::kItemText));
    const QRect textBox =
        card.adjusted(look::kNameLeft, 0, isDefault ? -look::kNameRightDefault : -look::kNameRight, 0);
    const QString name = index.data(Qt::DisplayRole).toString();
    painter->drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                      QFontMetrics(font).elidedText(name, Qt::ElideRight, textBox.width()));

    if (isDefault) {
      const QRect badge(card.right() - look::kBadgeRight - look::kBadgeWidth,
                        card.center().y() - look::kBadgeHeight / 2, look::kBadgeWidth, look::kBadgeHeight);
      painter->setPen(Qt::NoPen);
      painter->setBrush(Colour(selected ? look::kWhite : look::kBadgeFill));
      painter->drawRoundedRect(badge, look::kBadgeCorner, look::kBadgeCorner);
      QFont badgeFont = option.font;
      badgeFont.setPixelSize(look::kBadgeFontPixels);
      badgeFont.setWeight(QFont::Bold);
      painter->setFont(badgeFont);
      painter->setPen(Colour(selected ? look::kSelectedFill : look::kWhite));
      painter->drawText(badge, Qt::AlignCenter, QString::fromWCharArray(kDefaultPrinterBadge));
    }
    painter->restore();
  }
};

}  // namespace

std::shared_ptr<QPrinter> MakePrinter(const std::wstring& name) {
  const std::wstring testFile = TestPrinterFile();
  if (!testFile.empty() && name == kTestPrinterName) {
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(Q(testFile));
    return printer;
  }
  const QPrinterInfo info = QPrinterInfo::printerInfo(Q(name));
  if (info.isNull()) {
    return nullptr;
  }
  auto printer = std::make_shared<QPrinter>(info, QPrinter::HighResolution);
  return printer->isValid() ? printer : nullptr;
}

std::vector<PrinterEntry> EnumeratePrinters() {
  std::vector<PrinterEntry> reported;
  for (const QPrinterInfo& info : QPrinterInfo::availablePrinters()) {
    reported.push_back({info.printerName().toStdWString(), info.location().toStdWString(),
                        info.makeAndModel().toStdWString(), false});
  }
  std::wstring defaultName = QPrinterInfo::defaultPrinterName().toStdWString();
  const std::wstring testFile = TestPrinterFile();
  if (!testFile.empty()) {
    reported.push_back({kTestPrinterName, testFile, L"pdf", false});
    defaultName = kTestPrinterName;
  }
  return BuildPrinterList(std::move(reported), defaultName);
}

std::wstring SelectPrinter(QWidget* owner, const std::vector<PrinterEntry>& printers) {
  QDialog dialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  dialog.setWindowTitle(QString::fromWCharArray(kPrinterDialogTitle));
  dialog.setStyleSheet(DialogStyle());
  dialog.setFixedSize(440, 340);

  auto* layout = new QVBoxLayout(&dialog);
  layout->setContentsMargins(18, 16, 18, 16);
  layout->setSpacing(10);
  auto* prompt = new QLabel(QString::fromWCharArray(kPrinterDialogPrompt), &dialog);
  prompt->setObjectName(QStringLiteral("prompt"));
  layout->addWidget(prompt);

  auto* list = new QListWidget(&dialog);
  list->setItemDelegate(new PrinterItemDelegate(list));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  for (const PrinterEntry& printer : printers) {
    auto* item = new QListWidgetItem(Q(printer.name), list);
    item->setData(kDefaultRole, printer.isDefault);
  }
  layout->addWidget(list, 1);

  auto* notice = new QLabel(QString::fromWCharArray(kPrinterDialogNotice), &dialog);
  notice->setObjectName(QStringLiteral("notice"));
  notice->setAlignment(Qt::AlignCenter);
  notice->setWordWrap(true);
  layout->addWidget(notice, 1);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  auto* print = new QPushButton(QString::fromWCharArray(kPrinterDialogPrint), &dialog);
  print->setObjectName(QStringLiteral("print"));
  auto* cancel = new QPushButton(QString::fromWCharArray(kPrinterDialogCancel), &dialog);
  cancel->setObjectName(QStringLiteral("cancel"));
  // Enter chooses nothing, as in the Windows dialog: only Print, a double-click or Cancel do.
  for (QPushButton* button : {print, cancel}) {
    button->setAutoDefault(false);
    button->setDefault(false);
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);

  if (printers.empty()) {
    list->hide();
    print->hide();
  } else {
    notice->hide();
    list->setCurrentRow(0);
  }

  std::wstring chosen;
  const auto choose = [&] {
    const int row = list->currentRow();
    if (row >= 0 && static_cast<std::size_t>(row) < printers.size()) {
      chosen = printers[static_cast<std::size_t>(row)].name;
      dialog.accept();
    }
  };
  QObject::connect(print, &QPushButton::clicked, &dialog, choose);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, [&](QListWidgetItem*) { choose(); });
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    dialog.move(area.x() + (area.width() - dialog.width()) / 2,
                area.y() + (area.height() - dialog.height()) / 2);
  }

  AnswerWhenShown(&dialog, [&](const std::string& answer) {
    std::string names;
    for (const PrinterEntry& printer : printers) {
      if (!names.empty()) {
        names += '|';
      }
      names += Utf16ToUtf8(printer.name);
      if (printer.isDefault) {
        names += " (default)";
      }
    }
    const QListWidgetItem* current = list->currentItem();
    TestEvent("printer-dialog: title=" + dialog.windowTitle().toStdString() + " printers=" + names +
              " selected=" + (current ? current->text().toStdString() : std::string()) +
              " notice=" + (notice->isVisibleTo(&dialog) ? "1" : "0"));
    if ((answer == "ok" || answer == "yes") && print->isVisibleTo(&dialog)) {
      print->click();
    } else {
      cancel->click();
    }
  });
  dialog.exec();
  return chosen;
}

}  // namespace WebView
