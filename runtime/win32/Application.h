#pragma once
// The application object: the GUI message loop and the application-level exception handler
// through which every exception that escapes a window's message handler passes.
#include <exception>
#include <functional>
#include <string>
#include <windows.h>

class TForm;

class TApplication {
public:
  TApplication();

  void Initialize();
  void SetMainFormOnTaskBar(bool value) { FMainFormOnTaskBar = value; }
  bool MainFormOnTaskBar() const { return FMainFormOnTaskBar; }
  HINSTANCE Instance() const { return FInstance; }

  // The first form created becomes the main form; closing it ends Run.
  void RegisterForm(TForm *form);
  TForm *MainForm() const { return FMainForm; }
  void MainFormDestroyed(TForm *form);

  // Shows the main form and dispatches messages until the quit message arrives.
  void Run();
  // Dispatches the messages waiting in the queue, then returns.
  void ProcessMessages();
  bool Terminated() const { return FTerminated; }
  void Terminate();

  // Handles the exception being handled by the caller's catch block. EAbort is silent;
  // otherwise OnException, when set, gets it; otherwise ShowException displays it.
  void HandleException(void *sender);
  std::function<void(void *sender, std::exception_ptr exception)> OnException;

  // The runtime's display of an exception: a message box with the exception's message.
  // ShowHook, when set, takes over every display.
  void ShowException(std::exception_ptr exception);
  std::function<void(std::exception_ptr exception)> ShowHook;

  std::string Title() const { return FTitle; }

private:
  bool DispatchOne(MSG &msg);

  HINSTANCE FInstance;
  TForm *FMainForm = nullptr;
  bool FMainFormOnTaskBar = false;
  bool FTerminated = false;
  std::string FTitle = "Tidewell";
};

extern TApplication *Application;

// The class name and message of any exception: Exception and std::exception carry
// their own; anything else is "Unknown".
struct ExceptionDescription {
  std::string className;
  std::string message;
};
ExceptionDescription DescribeException(std::exception_ptr exception);
