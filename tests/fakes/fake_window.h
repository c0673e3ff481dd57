#pragma once
// Recording fakes of everything the launcher window reaches. Every call is written to one shared
// log ("Logo.SetTop(0)") so tests can check the order of calls, and any call can be made to fail.

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "handoff/process_starter.h"
#include "launcher/event_dispatch.h"
#include "launcher/window_parts.h"
#include "settings/text_rules.h"

namespace launcher::fakes {

// Path text from test literals: ASCII only, so one test source serves both path types.
inline PathText P(const std::string& text) {
  return AsciiPath(text);
}
inline std::string Narrow(const PathText& text) {
  return std::string(text.begin(), text.end());
}

class CallLog {
 public:
  // Logs a call and throws if the test asked that call to fail ("Logo.SetPicture" fails the
  // next call of that name; a count of 2 fails the next two).
  void Call(const std::string& name, const std::string& args = "") {
    entries_.push_back(name + "(" + args + ")");
    if (auto it = failures_.find(name); it != failures_.end() && it->second > 0) {
      --it->second;
      throw std::runtime_error(name + " failed");
    }
  }
  // For calls that can't fail.
  void Record(const std::string& name, const std::string& args = "") noexcept {
    entries_.push_back(name + "(" + args + ")");
  }
  void FailNext(const std::string& name, int times = 1) { failures_[name] += times; }

  [[nodiscard]] const std::vector<std::string>& Entries() const { return entries_; }
  void Clear() { entries_.clear(); }
  [[nodiscard]] int Count(const std::string& entry) const {
    int count = 0;
    for (const auto& e : entries_) count += (e == entry || e.starts_with(entry + "(")) ? 1 : 0;
    return count;
  }
  // Entries logged after the first one that matches.
  [[nodiscard]] std::vector<std::string> After(const std::string& entry) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i] == entry || entries_[i].starts_with(entry + "(")) {
        return {entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1, entries_.end()};
      }
    }
    return {};
  }

 private:
  std::vector<std::string> entries_;
  std::map<std::string, int> failures_;
};

inline std::string Num(Twips value) {
  std::ostringstream out;
  out << value;
  return out.str();
}
inline std::string Bool(bool value) {
  return value ? "true" : "false";
}

struct FakePicture final : Picture {
  FakePicture(Twips w, Twips h) : width(w), height(h) {}
  Twips width;
  Twips height;
};

class FakeForm final : public Form {
 public:
  explicit FakeForm(CallLog& log) : log_(log) {}
  Twips Height() const override { return height; }
  Twips Width() const override { return width; }
  void SetHeight(Twips h) override {
    log_.Call("Main.SetHeight", Num(h));
    height = h;
  }
  void SetWidth(Twips w) override {
    log_.Call("Main.SetWidth", Num(w));
    width = w;
  }
  WindowHandle Handle() const override { return 4242; }
  void Dismiss() noexcept override {
    log_.Record("Main.Dismiss");
    ++dismissals;
  }

  Twips width = 3090;
  Twips height = 2940;
  int dismissals = 0;

 private:
  CallLog& log_;
};

class FakeTimer final : public TimerControl {
 public:
  explicit FakeTimer(CallLog& log) : log_(log) {}
  void SetInterval(int ms) override {
    log_.Call("Timer.SetInterval", std::to_string(ms));
    interval = ms;
  }
  int interval = 0;

 private:
  CallLog& log_;
};

class FakePictureBox final : public PictureBox {
 public:
  explicit FakePictureBox(CallLog& log) : log_(log) {}
  void SetVisible(bool v) override { log_.Call("Logo.SetVisible", Bool(v)); }
  void SetAutoSize(bool a) override {
    log_.Call("Logo.SetAutoSize", Bool(a));
    auto_size = a;
  }
  void SetPicture(PictureRef p) override {
    log_.Call("Logo.SetPicture");
    picture = std::move(p);
    if (auto_size && picture) {
      const auto& fake = dynamic_cast<const FakePicture&>(*picture);
      width = fake.width;
      height = fake.height;
    }
  }
  PictureRef Picture() const override { return picture; }
  void SetTop(Twips t) override { log_.Call("Logo.SetTop", Num(t)); }
  void SetLeft(Twips l) override { log_.Call("Logo.SetLeft", Num(l)); }
  Twips Height() const override { return height; }
  Twips Width() const override { return width; }
  void SetHeight(Twips h) override {
    log_.Call("Logo.SetHeight", Num(h));
    height = h;
  }
  void SetWidth(Twips w) override {
    log_.Call("Logo.SetWidth", Num(w));
    width = w;
  }

  bool auto_size = false;
  PictureRef picture;
  Twips width = 1080;
  Twips height = 1095;

 private:
  CallLog& log_;
};

class FakeImage final : public ImageControl {
 public:
  explicit FakeImage(CallLog& log) : log_(log) {}
  void SetTop(Twips t) override { log_.Call("ImgTemp.SetTop", Num(t)); }
  void SetLeft(Twips l) override { log_.Call("ImgTemp.SetLeft", Num(l)); }
  void SetStretch(bool s) override { log_.Call("ImgTemp.SetStretch", Bool(s)); }
  void SetPicture(PictureRef p) override {
    log_.Call("ImgTemp.SetPicture");
    picture = std::move(p);
  }
  void SetHeight(Twips h) override { log_.Call("ImgTemp.SetHeight", Num(h)); }
  void SetWidth(Twips w) override { log_.Call("ImgTemp.SetWidth", Num(w)); }
  PictureRef picture;

 private:
  CallLog& log_;
};

class FakePlayer final : public MoviePlayer {
 public:
  explicit FakePlayer(CallLog& log) : log_(log) {}
  void SetVisible(bool v) override {
    log_.Call("SWFPlayer.SetVisible", Bool(v));
    visible = v;
  }
  void SetTop(Twips t) override { log_.Call("SWFPlayer.SetTop", Num(t)); }
  void SetLeft(Twips l) override { log_.Call("SWFPlayer.SetLeft", Num(l)); }
  void SetHeight(Twips h) override { log_.Call("SWFPlayer.SetHeight", Num(h)); }
  void SetWidth(Twips w) override { log_.Call("SWFPlayer.SetWidth", Num(w)); }
  void SetLoop(bool l) override { log_.Call("SWFPlayer.SetLoop", Bool(l)); }
  void SetMovie(const PathText& path) override {
    log_.Call("SWFPlayer.SetMovie", Narrow(path));
    movie = path;
  }
  void Play() override {
    log_.Call("SWFPlayer.Play");
    playing = true;
  }
  bool Playing() override {
    log_.Call("SWFPlayer.Playing");
    return playing;
  }
  void StopPlay() override {
    log_.Call("SWFPlayer.StopPlay");
    playing = false;
  }

  bool visible = false;
  bool playing = false;
  PathText movie;

 private:
  CallLog& log_;
};

class FakeSystem final : public SystemServices {
 public:
  explicit FakeSystem(CallLog& log) : log_(log) {}
  void GetKeyboardState(KeyState& out) noexcept override { out = keys; }
  void Sleep(int ms) noexcept override {
    log_.Record("Sleep", std::to_string(ms));
    slept_milliseconds += ms;
  }
  PixelSize ScreenSize() override {
    log_.Call("ScreenSize");
    return screen;
  }
  void SetWindowPos(WindowHandle window, WindowHandle after, int x, int y, int cx, int cy,
                    unsigned flags) noexcept override {
    std::ostringstream args;
    args << window << "," << after << "," << x << "," << y << "," << cx << "," << cy << ","
         << flags;
    log_.Record("SetWindowPos", args.str());
    if (on_set_window_pos) on_set_window_pos(cx, cy);
  }
  bool FilePresent(const PathText& path) override {
    log_.Call("FilePresent", Narrow(path));
    return files.contains(path);
  }
  PictureRef LoadPicture(const PathText& path) override {
    log_.Call("LoadPicture", Narrow(path));
    const auto it = pictures.find(path);
    if (it == pictures.end()) throw std::runtime_error("not a picture");
    return std::make_shared<FakePicture>(it->second.first, it->second.second);
  }

  KeyState keys{};
  PixelSize screen{1280, 1024};
  std::set<PathText> files;
  std::map<PathText, std::pair<Twips, Twips>> pictures;
  std::function<void(int, int)> on_set_window_pos;
  int slept_milliseconds = 0;

 private:
  CallLog& log_;
};

class FakeStarter final : public ProcessStarter {
 public:
  void Start(std::string_view command_line) override {
    started.emplace_back(command_line);
    if (fail) throw ProcessStartError("no process");
  }
  std::vector<std::string> started;
  bool fail = false;
};

// Latin-1 widening and ASCII upper case: enough for the core's own logic.
class PlainTextRules final : public TextRules {
 public:
  PathText Decode(std::string_view bytes, TextEncoding) const override {
    PathText text;
    for (const char c : bytes) text += static_cast<PathChar>(static_cast<unsigned char>(c));
    return text;
  }
  PathText ToUpper(const PathText& text) const override {
    PathText upper = text;
    for (auto& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<PathChar>(c - 'a' + 'A');
    }
    return upper;
  }
};

class RecordingReporter final : public ErrorReporter {
 public:
  void Report(std::string_view line) noexcept override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

}  // namespace launcher::fakes
