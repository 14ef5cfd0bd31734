#include "shell/ui/dialogs/translate_form.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>

#include "core/language.h"

namespace astrelon {

namespace {

QString Translation(int key) {
  if (key <= 255) return {};
  return QString::fromStdString(LangText(key));
}

// A child widget by object name, ignoring case (numbered controls are named
// "Checkbox1" as well as "CheckBox1").
QWidget* FindControl(QWidget* form, const QString& name) {
  for (QWidget* w : form->findChildren<QWidget*>())
    if (w->objectName().compare(name, Qt::CaseInsensitive) == 0) return w;
  return nullptr;
}

void SetCaption(QWidget* w, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    group->setTitle(text);
  } else if (auto* tabs = qobject_cast<QTabWidget*>(w->parentWidget() ? w->parentWidget()->parentWidget() : nullptr);
             tabs && tabs->indexOf(w) >= 0) {
    tabs->setTabText(tabs->indexOf(w), text);
  } else if (w->property("Caption").isValid()) {
    w->setProperty("Caption", text);  // panels that show a caption of their own
  }
}

void SetHint(QWidget* w, const QString& text) {
  w->setToolTip(text);
  w->setStatusTip(text);
}

QList<QRadioButton*> RadioItems(QGroupBox* group) { return group->findChildren<QRadioButton*>(); }

}  // namespace

QWidget* FindFormByName(const std::string& formName) {
  const QString name = QString::fromStdString(formName);
  const auto windows = QApplication::topLevelWidgets();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->objectName() == name) return *it;
  return nullptr;
}

void TranslateForm(const std::string& formName) {
  QWidget* form = FindFormByName(formName);
  if (!form || !LanguageFileLoaded) return;
  for (QWidget* w : form->findChildren<QWidget*>()) {
    const QVariant tag = w->property("Tag");
    if (!tag.isValid()) continue;
    const QString text = Translation(tag.toInt());
    if (!text.isEmpty()) SetCaption(w, text);
  }
}

void TranslateNumberedControls(const std::string& formName, const std::array<int, 96>& keys) {
  QWidget* form = FindFormByName(formName);
  if (!form || !LanguageFileLoaded) return;
  // Entry e (1-based) of the table.
  auto key = [&keys](int e) { return keys[size_t(e - 1)]; };
  auto text = [&](int e) { return key(e) > 0 ? QString::fromStdString(LangText(key(e))) : QString(); };
  auto each = [&](int first, int last, const char* prefix, auto apply) {
    for (int e = first; e <= last; ++e) {
      const QString t = text(e);
      if (t.isEmpty()) continue;
      if (QWidget* w = FindControl(form, QString(prefix) + QString::number(e - first + 1))) apply(w, t);
    }
  };
  each(1, 20, "Label", SetCaption);
  each(21, 40, "Checkbox", SetCaption);
  each(41, 48, "Checkbox", SetHint);
  each(49, 56, "Button", SetCaption);
  each(57, 64, "Button", SetHint);
  each(65, 72, "Radiogroup", [](QWidget* w, QString t) { SetCaption(w, t.remove('&')); });
  for (int j = 0; j < 3; ++j) {
    const int g = key(73 + j);
    if (g <= 0) continue;
    auto* group = qobject_cast<QGroupBox*>(FindControl(form, "Radiogroup" + QString::number(g)));
    if (!group) continue;
    if (const QString hint = text(76 + j); !hint.isEmpty()) SetHint(group, hint);
    const auto items = RadioItems(group);
    for (int i = 0; i < 6; ++i) {
      QString t = text(79 + 6 * j + i);
      if (t.isEmpty() || i >= items.size()) continue;
      items[i]->setText(t.remove('&'));
    }
  }
}

void TranslateMenuCaption(QAction* action, int key) {
  if (!action || !LanguageFileLoaded) return;
  const QString text = QString::fromStdString(LangText(key));
  if (!text.isEmpty()) action->setText(text);
}

}  // namespace astrelon
