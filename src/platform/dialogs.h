// The open-file chooser and the modal message box.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct FileFilter {
  std::string description;  // "Program File (*.hex)"
  std::string pattern;      // "*.hex"
};

struct OpenFileRequest {
  std::string title;
  std::vector<FileFilter> filters;
  int filterIndex = 0;    // preselected filter
  bool mustExist = true;  // otherwise a new name may be chosen after a confirmation
  // Refuses a read-only file and a file in a folder that cannot be written to.
  bool refuseReadOnly = false;
  // A file to be written anew: a new name needs no confirmation, an existing file is replaced
  // only after one, so that an export never overwrites a file by surprise.
  bool saving = false;
  // The accept button's text and the prompt before the file name; empty: the platform's.
  std::string acceptText;
  std::string prompt;
};

struct ChosenFile {
  std::string fileName;   // full path
  std::string fileTitle;  // bare name without the folder
  int filterIndex = 0;    // the file type chosen
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // Empty when the person cancels.
  virtual std::optional<ChosenFile> ShowOpen(const OpenFileRequest& request) = 0;
};

// Modal: timers and port events go on while a box is shown.
class MessageBox {
 public:
  virtual ~MessageBox() = default;
  // Warning icon, one OK button, titled with the application's title.
  virtual void Warning(const std::string& text) = 0;
};

}  // namespace velmora
