#include "shell/ui/dialogs/about_box.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "core/language.h"

namespace astrelon {

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName("AboutBox");
  setWindowTitle("Info");
  setAttribute(Qt::WA_DeleteOnClose);

  auto* panel = new QWidget(this);
  panel->setObjectName("Panel1");
  panel->setAutoFillBackground(true);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  panel->setPalette(pal);

  auto* icon = new QLabel(panel);
  icon->setObjectName("ProgramIcon");
  const QIcon appIcon = QApplication::windowIcon().isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon)
                                                            : QApplication::windowIcon();
  icon->setPixmap(appIcon.pixmap(48, 48));

  ProductName = new QLabel("Astrelon", panel);
  ProductName->setObjectName("ProductName");
  QFont big = ProductName->font();
  big.setPointSize(big.pointSize() + 6);
  big.setBold(true);
  ProductName->setFont(big);
  Version = new QLabel(panel);
  Version->setObjectName("Version");
  Copyright = new QLabel(QString::fromUtf8("Die Astrelon-Entwickler"), panel);
  Copyright->setObjectName("Copyright");

  auto* text = new QVBoxLayout;
  text->addWidget(ProductName);
  text->addWidget(Version);
  text->addSpacing(8);
  text->addWidget(Copyright);
  auto* panelLayout = new QHBoxLayout(panel);
  panelLayout->addWidget(icon, 0, Qt::AlignTop);
  panelLayout->addLayout(text);

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::close);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
}

void TAboutBox::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  const auto text = [](int key, const char* german) { return QString::fromStdString(LangTextOr(key, german)); };
  Version->setText(text(LangKey(1, 5, 5, 1), "Version ") + ProgramVersionText);
  OKButton->setText(text(LangKey(1, 5, 5, 3), "OK"));
}

void ShowAboutBox(QWidget* parent) {
  auto* box = new TAboutBox(parent);
  box->exec();
}

}  // namespace astrelon
