// The Windows launcher: creates the window Main hidden with its controls in their created order,
// loads it, shows it if it is still loaded, and runs its messages until it is unloaded.

#include <windows.h>

#include <memory>

#include "handoff/process_starter.h"
#include "launcher/event_dispatch.h"
#include "launcher/launcher_window.h"
#include "player/skip_once.h"
#include "player/switching_player.h"
#include "resource_ids.h"
#include "windows/flash_site.h"
#include "windows/media/media_foundation_player.h"
#include "windows/scoped_win.h"
#include "windows/skip_report.h"
#include "windows/swf/swf_window_player.h"
#include "windows/win32_system.h"
#include "windows/win32_text_rules.h"
#include "windows/win32_window.h"

namespace {

using namespace launcher;
using namespace launcher::win32;

RECT CreatedRect(const TwipsScale& scale, const created::Rect& rect) {
  return PixelRect(scale, rect.left, rect.top, rect.width, rect.height);
}

int Run(HINSTANCE instance, ProcessStarter& processes, ErrorReporter& reporter) {
  const OleSession ole;

  // The window class icon: one 32 x 32 image; shared icons need no freeing.
  const auto icon = static_cast<HICON>(
      ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_WINDOW), IMAGE_ICON, 32, 32, LR_SHARED));
  MainWindow window(instance, icon);
  const TwipsScale& scale = window.Scale();

  // The controls in their created order: Timer, SWFPlayer, Logo, ImgTemp.
  WindowTimer timer(window);
  // Movie commands, from whichever engine plays.
  const auto queue = [&window](std::wstring command, std::wstring args) {
    window.QueueCommand(std::move(command), std::move(args));
  };
  FlashControl flash =
      CreateFlashPlayer(window.hwnd(), scale, CreatedRect(scale, created::kPlayer), queue);
  // An SWF reaches the built-in engine only when the control is missing: if that engine can't
  // play it either, the line says first why the control wasn't there.
  SkipReporter report = [control = std::move(flash.failure)](const PathText& path,
                                                             std::wstring_view reason) {
    if (control.empty() || !IsFlashMovie(path)) return ReportSkippedMovie(path, reason);
    ReportSkippedMovie(path, control + L"; " + std::wstring(reason));
  };
  HWND parent = window.hwnd();
  // An SWF without the control goes to the SWF player; one it can't play is skipped, since no
  // decoder of Windows reads the video an SWF may wrap.
  SwfRoute swf{
      .make = [parent, scale, queue] { return CreateSwfPlayer(parent, scale, queue); },
      .refused = [report](const PathText& path,
                          const std::string& refusal) { report(path, FromUtf8(refusal)); },
      .fall_back = SwfFallBack::Skip,
  };
  SwitchingMoviePlayer player(
      std::move(flash.player),
      [parent, scale, report] { return CreateMediaFoundationPlayer(parent, scale, report); },
      std::move(swf));
  PictureBoxWindow logo(window, CreatedRect(scale, created::kLogo));
  PaintedImage image(window, CreatedRect(scale, created::kImage));

  Win32System system;
  const Win32TextRules text;
  Main main(MainControls{window, timer, player, logo, image},
            MainServices{system, processes, text, FolderOf(ModuleFileName())});
  EventDispatcher dispatcher(main, reporter);
  window.Attach(dispatcher);

  dispatcher.Load();
  if (dispatcher.WindowLoaded()) {
    window.Show();
    window.RunMessageLoop();
  }
  // The players and the controls go before the window that holds them (reverse order).
  return dispatcher.ExitCode();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  Win32ErrorReporter reporter;
  Win32ProcessStarter process_starter;
  return RunWithLastResortStart(
      process_starter, reporter, [instance, &reporter](ProcessStarter& game) {
        const int code = Run(instance, game, reporter);
        // The window is gone, the game started and nothing of the launcher's is left to flush
        // (its reports are unbuffered). Media Foundation's and Wine's worker threads may still be
        // winding down: ExitProcess would run every library's detach code beside them, and Wine 8
        // crashes a process whose thread it ends in the middle of a system call (status 139 after
        // most movies). Ending the process outright is the clean and immediate end.
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
        return code;
      });
}
