#include "crash/base/settings/KXDefaults.h"

#include <cstdint>

namespace kx {

namespace {

struct DefaultEntry {
  const char *name;
  TPropertyType typ;
  int32_t number; // boolean (0/1) or integer value
  const char *text;
};

constexpr TPropertyType B = TPropertyType::ptBoolean;
constexpr TPropertyType I = TPropertyType::ptInteger;
constexpr TPropertyType S = TPropertyType::ptString;

const DefaultEntry kDefaults[] = {
    // module level
    {"Enabled", B, 0, ""},
    {"NoSettings", B, 1, ""},
    {"CheckFileCrc", B, 1, ""},
    {"CheckFreeze", B, 0, ""},
    {"FreezeTimeout", I, 60, ""},
    {"F1Classes", S, 0, ""},
    {"F2Classes", S, 0, ""},
    {"F1NoBugRep", B, 0, ""},
    {"F2NoBugRep", B, 0, ""},
    {"GnNoBugRep", B, 0, ""},
    {"F1NoScrShot", B, 0, ""},
    {"F2NoScrShot", B, 0, ""},
    {"GnNoScrShot", B, 0, ""},
    {"F1NoHandlers", B, 0, ""},
    {"F2NoHandlers", B, 0, ""},
    {"GnNoHandlers", B, 0, ""},
    {"F1NoSuspend", B, 0, ""},
    {"F2NoSuspend", B, 0, ""},
    {"GnNoSuspend", B, 0, ""},
    {"F1ShowCfg", I, 0, ""},
    {"F2ShowCfg", I, 0, ""},
    {"GnShowCfg", I, 0, ""},
    {"F1Assis", S, 0, ""},
    {"F2Assis", S, 0, ""},
    {"GnAssis", S, 0, ""},
    // automatic actions
    {"AutoSave", B, 1, ""},
    {"AutoSaveIfNotSent", B, 1, ""},
    {"AutoSend", B, 0, ""},
    {"AutoSendBox", B, 0, ""},
    {"AutoClip", B, 1, ""},
    {"PauseThreads", B, 0, ""},
    {"PlWaitBox", B, 1, ""},
    {"AutoContinue", B, 0, ""},
    {"AutoRestart", I, 0, ""},
    {"AutoClose", I, 0, ""},
    {"AutoDelay", I, 60, ""},
    // crash dialog and texts
    {"SendBtnVis", B, 1, ""},
    {"SaveBtnVis", B, 0, ""},
    {"PrintBtnVis", B, 0, ""},
    {"ShowBtnVis", B, 1, ""},
    {"ContinueBtnVis", B, 1, ""},
    {"RestartBtnVis", B, 1, ""},
    {"CloseBtnVis", B, 1, ""},
    {"FocusedBtn", I, 0, ""},
    {"SendAssis", S, 0, ""},
    {"SaveAssis", S, 0, ""},
    {"PrintAssis", S, 0, ""},
    {"AutoShowBugRep", B, 0, ""},
    {"UglyBtns", B, 0, ""},
    {"TitleBar", S, 0, "%appname%"},
    {"ExceptMsg", S, 0, "An error occurred in the application."},
    {"FrozenMsg", S, 0, "The application seems to be frozen."},
    {"BitFaultMsg", S, 0, "The file \"%modname%\" seems to be corrupt!"},
    {"SendBtnTxt", S, 0, "send bug report"},
    {"SaveBtnTxt", S, 0, "save bug report"},
    {"PrintBtnTxt", S, 0, "print bug report"},
    {"ShowBtnTxt", S, 0, "show bug report"},
    {"ContinueBtnTxt", S, 0, "continue bug report"},
    {"RestartBtnTxt", S, 0, "restart bug report"},
    {"CloseBtnTxt", S, 0, "close bug report"},
    {"OkBtnTxt", S, 0, "&OK"},
    {"DetailsBtnTxt", S, 0, "&Details"},
    {"PlWaitTitle", S, 0, "Information"},
    {"PlWaitText", S, 0, "Please wait a moment..."},
    // delivery
    {"MailAddr", S, 0, ""},
    {"MailFrom", S, 0, ""},
    {"SendInBackgr", B, 1, ""},
    {"MailAsSmtpServer", B, 0, ""},
    {"MailAsSmtpClient", B, 0, ""},
    {"UploadViaHttp", B, 0, ""},
    {"MailViaMapi", B, 1, ""},
    {"MailViaMailto", B, 1, ""},
    {"SmtpServer", S, 0, ""},
    {"SmtpAccount", S, 0, ""},
    {"SmtpPassword", S, 0, ""},
    {"SmtpPort", I, 25, ""},
    {"HttpServer", S, 0, ""},
    {"HttpAccount", S, 0, ""},
    {"HttpPassword", S, 0, ""},
    {"HttpPort", I, 80, ""},
    {"AddFields", S, 0, ""},
    {"MailSubj", S, 0, "bug report"},
    {"MailBody", S, 0, "please find the bug report attached"},
    {"SendBoxTitle", S, 0, "Sending bug report..."},
    {"PrepAttMsg", S, 0, "Prepare attachments..."},
    {"MxLookMsg", S, 0, "Searching for mail server..."},
    {"ConnMsg", S, 0, "Connecting to server..."},
    {"AuthMsg", S, 0, "Authentication..."},
    {"SendMailMsg", S, 0, "Sending mail..."},
    {"FieldMsg", S, 0, "Setting fields..."},
    {"SendAttMsg", S, 0, "Sending attachments..."},
    {"SendFinalMsg", S, 0, "Finalizing..."},
    {"SendFailMsg", S, 0, "Sorry, sending the bug report didn't work."},
    // attachments and the bug report file
    {"AttachBugRep", B, 1, ""},
    {"AttachBugRepFile", B, 1, ""},
    {"DelBugRepFile", B, 1, ""},
    {"BugRepSendAs", S, 0, "bugreport.txt"},
    {"BugRepZip", S, 0, ""},
    {"ScrShotDepth", I, 0, ""},
    {"ScrShotAppOnly", B, 1, ""},
    {"ScrShotSendAs", S, 0, "screenshot.png"},
    {"ScrShotZip", S, 0, ""},
    {"AddAttachs", S, 0, ""},
    {"BugRepFile", S, 0, "bugreport.txt"},
    {"AppendBugReps", B, 1, ""},
    {"BugRepFileSize", I, 100000, ""},
    {"NoDupExcepts", B, 1, ""},
    {"NoDupFreezes", B, 1, ""},
    {"DupExceptDef", I, 1, ""},
    {"DupFreezeDef", I, 2, ""},
    // report content
    {"ListThreads", B, 1, ""},
    {"CpuRegs", B, 1, ""},
    {"StackDump", B, 1, ""},
    {"ShowDisAsm", B, 1, ""},
    {"HideUglyItems", B, 0, ""},
    {"ShowRelAddrs", B, 1, ""},
    {"ShowRelLines", B, 1, ""},
    {"FormatDisAsm", B, 0, ""},
    {"LimitDisAsm", I, 5, ""},
    {"Plugins", S, 0, "modules|processes|hardware"},
    {"VersionVar", I, 0, ""},
    // keys added later, at the end so the fixed order above stays
    {"AttachMiniDump", B, 0, ""},
};

TKXPropertyList BuildDefaults() {
  TKXPropertyList list(std::size(kDefaults));
  for (const DefaultEntry &e : kDefaults) {
    TKXProperty &p = list.Append(e.name, e.typ);
    if (e.typ == TPropertyType::ptBoolean)
      p.vBool = e.number != 0;
    else if (e.typ == TPropertyType::ptInteger)
      p.vInt = e.number;
    else
      p.SetText(e.text);
  }
  return list;
}

} // namespace

const TKXPropertyList &DefaultSettings() {
  static const TKXPropertyList table = BuildDefaults();
  return table;
}

const TKXProperty *FindDefault(std::string_view name) { return DefaultSettings().Find(name); }

} // namespace kx
