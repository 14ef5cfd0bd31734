#include "store/named_load.h"

#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "store/image_loader.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

// Passes everything on to the interface it replaces while a file loads,
// adding the file's name to every text that lacks it.
class TNamingUi final : public TEngineUi {
public:
  TNamingUi(TEngineUi& inner, const std::string& fileName) : inner_(inner), name_(fileName) {}
  void ProcessMessages() override { inner_.ProcessMessages(); }
  void ShowMessage(const std::string& text) override {
    ++Shown;
    inner_.ShowMessage(Named(text));
  }
  TDialogAnswer AskYesNoCancel(const std::string& text, bool allowCancel) override {
    return inner_.AskYesNoCancel(Named(text), allowCancel);
  }
  TDialogAnswer AskYesNoCancelTitled(const std::string& caption, const std::string& text) override {
    return inner_.AskYesNoCancelTitled(caption, Named(text));
  }
  std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& value) override {
    return inner_.InputBox(caption, prompt, value);
  }
  void ShowStatus(const std::string& text) override { inner_.ShowStatus(text); }

  std::string Named(const std::string& text) const {
    return text.find(FileNamePart(name_)) != std::string::npos ? text : text + "\r\n" + name_;
  }
  int Shown = 0;

private:
  TEngineUi& inner_;
  const std::string& name_;
};

// Installs the naming interface for one load and puts the previous one back.
class TNamingScope {
public:
  explicit TNamingScope(const std::string& fileName)
      : inner_(EngineUi()), installed_(EngineUiInstalled()), ui_(inner_, fileName) {
    SetEngineUi(&ui_);
  }
  ~TNamingScope() { SetEngineUi(installed_ ? &inner_ : nullptr); }
  TNamingScope(const TNamingScope&) = delete;
  TNamingScope& operator=(const TNamingScope&) = delete;
  TNamingUi& Ui() { return ui_; }

private:
  TEngineUi& inner_;
  bool installed_;
  TNamingUi ui_;
};

}  // namespace

std::string FileMissingText(const std::string& fileName) { return fileName + "\r\n" + " ist nicht vorhanden."; }

bool LoadImageFileNamed(int slot, const std::string& fileName) {
  std::string failure;
  {
    TNamingScope scope(fileName);
    try {
      if (LoadImageFile(slot, fileName)) return true;
    } catch (const std::bad_alloc&) {
      failure = OutOfMemoryText(fileName);
    } catch (const std::exception& e) {
      failure = scope.Ui().Named(FileOpenErrorText(fileName) + "\r\n" + e.what());
    }
    if (failure.empty() && scope.Ui().Shown > 0) return false;
  }
  if (failure.empty()) {
    std::error_code ec;
    failure = std::filesystem::exists(fileName, ec) ? FileOpenErrorText(fileName) : FileMissingText(fileName);
  }
  EngineUi().ShowMessage(failure);
  return false;
}

}  // namespace astrelon
