// The keys of the deconvolution, wavelet and speckle windows: their main
// buttons have an Alt letter, and no two buttons of a window share one.
#include <QAbstractButton>
#include <QKeySequence>
#include <QMap>
#include <memory>

#include <gtest/gtest.h>

#include "frequency/ui/deconvolution_dialog.h"
#include "frequency/ui/speckle_dialog.h"
#include "frequency/ui/wavelet_dialog.h"

namespace astrelon {
namespace {

TEST(DialogAccelerators, MainButtonsHaveTheirOwnLetters) {
  const std::unique_ptr<QWidget> deconvolution = std::make_unique<TForm22>(), wavelet = std::make_unique<TForm23>(),
                                 speckle = std::make_unique<TForm32>();
  EXPECT_EQ(deconvolution->windowTitle(), "Deconvolution");
  const struct {
    QWidget* Form;
    const char* Button;
    QKeySequence Key;
  } cases[] = {
      {deconvolution.get(), "Button3", QKeySequence(Qt::ALT | Qt::Key_B)},  // "&Berechnen"
      {deconvolution.get(), "Button2", QKeySequence(Qt::ALT | Qt::Key_O)},  // "&Ok"
      {deconvolution.get(), "Button1", QKeySequence(Qt::ALT | Qt::Key_A)},  // "&Abbrechen"
      {wavelet.get(), "SpeedButton1", QKeySequence(Qt::ALT | Qt::Key_L)},   // "&Laden"
      {wavelet.get(), "SpeedButton2", QKeySequence(Qt::ALT | Qt::Key_S)},   // "&Speichern"
      {speckle.get(), "Button5", QKeySequence(Qt::ALT | Qt::Key_B)},        // "&Bilder registrieren"
  };
  for (const auto& c : cases) {
    const auto* button = c.Form->findChild<QAbstractButton*>(c.Button);
    ASSERT_NE(button, nullptr) << c.Button;
    EXPECT_EQ(QKeySequence::mnemonic(button->text()), c.Key) << c.Button;
  }
  for (QWidget* form : {deconvolution.get(), wavelet.get(), speckle.get()}) {
    QMap<int, QString> taken;
    for (const QAbstractButton* b : form->findChildren<QAbstractButton*>()) {
      const QKeySequence key = QKeySequence::mnemonic(b->text());
      if (key.isEmpty() || b->window() != form) continue;  // a file dialog of the form is a window of its own
      EXPECT_FALSE(taken.contains(key[0].toCombined()))
          << form->objectName().toStdString() << ": " << taken.value(key[0].toCombined()).toStdString() << " / "
          << b->text().toStdString();
      taken.insert(key[0].toCombined(), b->text());
    }
  }
}

}  // namespace
}  // namespace astrelon
