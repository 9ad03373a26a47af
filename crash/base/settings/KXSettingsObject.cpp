#include "crash/base/settings/KXSettingsObject.h"

#include "crash/base/settings/KXDefaults.h"
#include "crash/base/settings/KXSettingsStream.h"
#include "crash/base/settings/KXText.h"

namespace kx {

std::string KXProcessSuffix(uint32_t processId) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  do {
    hex.insert(hex.begin(), digits[processId & 15]);
    processId >>= 4;
  } while (processId != 0);
  return "$" + hex;
}

std::string KXSettingsBufferName(uint32_t processId) { return "KestrelixSettingsBuf2" + KXProcessSuffix(processId); }

std::string KXSettingsMutexName(uint32_t processId) { return "KestrelixSettingsMtx" + KXProcessSuffix(processId); }

// --- registry ----------------------------------------------------------------------------------

namespace {
// Reads a module's stream into the list; returns the failure text to show ("" when none).
std::string FillFromStream(TKXSettingsModule &list, const std::vector<uint8_t> &stream) {
  std::string failure;
  LoadSettingsList(stream, list.props, [&failure](const std::string &text) { failure = text; });
  return failure;
}
} // namespace

KXSettingsRegistry::~KXSettingsRegistry() {
  while (FHead) {
    TKXSettingsModule *next = FHead->next;
    delete FHead;
    FHead = next;
  }
}

TKXSettingsModule *KXSettingsRegistry::Acquire(KXModule module, IKXPlatform &platform) {
  std::string failure;
  TKXSettingsModule *list = nullptr;
  {
    std::lock_guard g(FLock);
    for (TKXSettingsModule *p = FHead; p; p = p->next) {
      if (p->module == module) {
        ++p->refCount;
        ++FRefCount;
        return p;
      }
    }
    std::optional<std::vector<uint8_t>> stream = platform.SettingsStream(module);
    if (!stream)
      return nullptr;
    auto fresh = std::make_unique<TKXSettingsModule>();
    fresh->module = module;
    fresh->refCount = 1;
    failure = FillFromStream(*fresh, *stream);
    list = fresh.release();
    list->next = FHead;
    FHead = list;
    ++FRefCount;
  }
  // The message box waits for the user; the registry stays usable meanwhile.
  if (!failure.empty())
    platform.ShowMessage("Kestrelix", failure);
  return list;
}

void KXSettingsRegistry::Release(TKXSettingsModule *list) {
  if (!list)
    return;
  std::lock_guard g(FLock);
  --FRefCount;
  if (--list->refCount > 0)
    return;
  for (TKXSettingsModule **p = &FHead; *p; p = &(*p)->next) {
    if (*p == list) {
      *p = list->next;
      break;
    }
  }
  delete list;
}

void KXSettingsRegistry::Reload(TKXSettingsModule *list, IKXPlatform &platform) {
  if (!list)
    return;
  std::string failure;
  {
    std::lock_guard g(FLock);
    std::lock_guard values(list->valueLock);
    list->props.Clear();
    if (std::optional<std::vector<uint8_t>> stream = platform.SettingsStream(list->module))
      failure = FillFromStream(*list, *stream);
  }
  if (!failure.empty())
    platform.ShowMessage("Kestrelix", failure);
}

int32_t KXSettingsRegistry::RefCount() {
  std::lock_guard g(FLock);
  return FRefCount;
}

size_t KXSettingsRegistry::ListCount() {
  std::lock_guard g(FLock);
  size_t n = 0;
  for (TKXSettingsModule *p = FHead; p; p = p->next)
    ++n;
  return n;
}

// --- context -----------------------------------------------------------------------------------

KXSettingsContext::KXSettingsContext(IKXPlatform &platform, std::shared_ptr<KXSettingsRegistry> registry)
    : FPlatform(platform), FRegistry(std::move(registry)) {}

void KXSettingsContext::SetMainSettings(const std::shared_ptr<IKXModuleSettings> &main) {
  std::lock_guard g(FLock);
  FMain = std::dynamic_pointer_cast<TIKXSettings>(main);
}

std::shared_ptr<TIKXSettings> KXSettingsContext::MainSettings() {
  std::lock_guard g(FLock);
  return FMain.lock();
}

void KXSettingsContext::SetAssistantHooks(KXAssistantHooks hooks) {
  std::lock_guard g(FLock);
  FHooks = std::move(hooks);
}

KXAssistantHooks KXSettingsContext::AssistantHooks() {
  std::lock_guard g(FLock);
  return FHooks;
}

std::shared_ptr<IKXModuleSettings> CreateModuleSettings(const std::shared_ptr<KXSettingsContext> &context,
                                                        KXModule module, bool read) {
  return std::make_shared<TIKXSettings>(context, module, read);
}

// --- settings object ---------------------------------------------------------------------------

TIKXSettings::TIKXSettings(std::shared_ptr<KXSettingsContext> context, KXModule module, bool read)
    : FContext(std::move(context)), FModule(module) {
  if (read)
    FSettings = FContext->Registry().Acquire(module, FContext->Platform());
  FValid = FSettings != nullptr;
  if (FValid) {
    // The offset is the module's own (or the built-in 0): another module's offset means nothing here.
    int32_t offset = 0;
    {
      std::lock_guard g(FSettings->valueLock);
      const TKXProperty *p = FSettings->props.Find("VersionVar");
      if (p && p->typ == TPropertyType::ptInteger)
        offset = p->vInt;
    }
    if (offset != 0)
      FVersionVar = FContext->Platform().ReadModuleText(module, uint32_t(offset)).value_or(std::string());
  }
}

TIKXSettings::~TIKXSettings() {
  if (FAddFields)
    FieldsEx(*FAddFields).ClearMesParent();
  if (FAddAttachs)
    AttachmentsEx(*FAddAttachs).ClearParent();
  if (FSettings)
    FContext->Registry().Release(FSettings);
}

KXValueGuard TIKXSettings::LockValues() {
  KXValueGuard g;
  if (FSettings)
    g.first = std::unique_lock(FSettings->valueLock);
  return g;
}

TKXProperty *TIKXSettings::FindProp(std::string_view name, bool allowDefault, bool write, TPropertyType createTyp) {
  if (FSettings) {
    if (TKXProperty *p = FSettings->props.Find(name))
      return p;
    if (write)
      return &FSettings->props.Append(name, createTyp);
  }
  if (allowDefault && !write)
    return const_cast<TKXProperty *>(FindDefault(name)); // read-only use: write lookups never get here
  return nullptr;
}

bool TIKXSettings::IsPrimary() {
  std::shared_ptr<TIKXSettings> main = FContext->MainSettings();
  return !main || main->FModule == FModule;
}

std::optional<TKXProperty> TIKXSettings::LookupValue(const std::string &key) {
  bool primary = IsPrimary();
  {
    KXValueGuard g = LockValues();
    if (const TKXProperty *p = FindProp(key, primary, false, TPropertyType::ptString))
      return *p;
  }
  if (primary)
    return std::nullopt;
  std::shared_ptr<TIKXSettings> main = FContext->MainSettings();
  if (!main || main.get() == this)
    return std::nullopt;
  return main->LookupValue(key);
}

bool TIKXSettings::GetPropBool(const std::string &key) {
  std::optional<TKXProperty> v = LookupValue(key);
  return v ? v->vBool : false;
}

int32_t TIKXSettings::GetPropInt(const std::string &key) {
  std::optional<TKXProperty> v = LookupValue(key);
  return v ? v->vInt : 0;
}

uint32_t TIKXSettings::GetPropDw(const std::string &key) { return uint32_t(GetPropInt(key)); }

std::string TIKXSettings::GetPropStr(const std::string &key) {
  std::optional<TKXProperty> v = LookupValue(key);
  return Expand(v ? v->Text() : std::string());
}

std::u16string TIKXSettings::GetPropStrW(const std::string &key) {
  std::optional<TKXProperty> v = LookupValue(key);
  return Expand(v ? v->WideText() : std::u16string());
}

template <class F> bool TIKXSettings::Store(const std::string &key, TPropertyType typ, F &&assign) {
  if (!FValid)
    return false;
  KXValueGuard g = LockValues();
  TKXProperty *p = FindProp(key, false, true, typ);
  if (!p || p->typ != typ)
    return false;
  assign(*p);
  return true;
}

bool TIKXSettings::SetPropBool(const std::string &key, bool value) {
  return Store(key, TPropertyType::ptBoolean, [value](TKXProperty &p) { p.vBool = value; });
}

bool TIKXSettings::SetPropInt(const std::string &key, int32_t value) {
  return Store(key, TPropertyType::ptInteger, [value](TKXProperty &p) { p.vInt = value; });
}

bool TIKXSettings::SetPropDw(const std::string &key, uint32_t value) { return SetPropInt(key, int32_t(value)); }

bool TIKXSettings::SetPropStr(const std::string &key, const std::string &value) {
  return Store(key, TPropertyType::ptString, [&value](TKXProperty &p) { p.SetText(value); });
}

bool TIKXSettings::SetPropStrW(const std::string &key, const std::u16string &value) {
  return Store(key, TPropertyType::ptString, [&value](TKXProperty &p) { p.SetWideText(value); });
}

KXExpandArgs TIKXSettings::ExpandArgs() {
  KXExpandArgs args;
  args.module = FModule;
  return args;
}

namespace {
template <class Str>
Str ExpandWith(TIKXSettings &self, const Str &text, const KXExpandArgs &args, KXModule ownModule,
               const std::string &ownVersionVar) {
  const std::shared_ptr<KXSettingsContext> &context = self.Context();
  auto versionVar = [&](KXModule module) {
    if (module == ownModule)
      return ownVersionVar;
    return CreateModuleSettings(context, module)->VersionVar();
  };
  return ExpandVariables(text, args, context->Platform(), versionVar);
}
} // namespace

std::string TIKXSettings::Expand(const std::string &text) {
  return ExpandWith(*this, text, ExpandArgs(), FModule, FVersionVar);
}

std::u16string TIKXSettings::Expand(const std::u16string &text) {
  return ExpandWith(*this, text, ExpandArgs(), FModule, FVersionVar);
}

bool TIKXSettings::TakesScreenShot() { return GetScreenShotDepth() != 0; }

// --- special accessors -------------------------------------------------------------------------

KXModule TIKXSettings::Module() { return FModule; }

bool TIKXSettings::IsValid() { return FValid; }

bool TIKXSettings::MinDebugInfoOnly() { return !GetPropStr("MinDebugInfo").empty(); }

std::string TIKXSettings::VersionVar() { return FVersionVar; }

std::u16string TIKXSettings::GetBugReportFile() { return GetPropStrW("BugRepFile"); }

void TIKXSettings::SetBugReportFile(const std::u16string &value) { SetPropStrW("BugRepFile", value); }

std::shared_ptr<IKXFields> TIKXSettings::GetAdditionalFields() {
  std::lock_guard g(FListsLock);
  if (!FAddFields) {
    std::shared_ptr<IKXFields> fields = NewFieldList();
    FieldsEx(*fields).AcceptData();
    AddFieldsText(*fields, GetPropStr("AddFields"));
    FieldsEx(*fields).SetMesParent([this](const std::string &text) { SetPropStr("AddFields", text); });
    FAddFields = fields;
  }
  return FAddFields;
}

std::shared_ptr<IKXAttachments> TIKXSettings::GetAdditionalAttachments() {
  std::lock_guard g(FListsLock);
  if (!FAddAttachs) {
    std::shared_ptr<IKXAttachments> attachs = NewAttachmentList();
    AddAttachmentsText(*attachs, GetPropStr("AddAttachs"));
    AttachmentsEx(*attachs).SetParent([this](const std::string &text) { SetPropStr("AddAttachs", text); });
    FAddAttachs = attachs;
  }
  return FAddAttachs;
}

bool TIKXSettings::GetPluginEnabled(const std::string &plugin) {
  if (plugin.empty())
    return false;
  for (const std::string &item : SplitText(GetPropStr("Plugins"), '|'))
    if (SameText(item, plugin))
      return true;
  return false;
}

void TIKXSettings::SetPluginEnabled(const std::string &plugin, bool value) {
  if (plugin.empty() || GetPluginEnabled(plugin) == value)
    return;
  std::string list = GetPropStr("Plugins");
  if (value) {
    SetPropStr("Plugins", list.empty() ? plugin : list + "|" + plugin);
    return;
  }
  // Every item of that name goes, so that the plug-in is disabled afterwards.
  std::string kept;
  bool first = true;
  for (const std::string &item : SplitText(list, '|')) {
    if (SameText(item, plugin))
      continue;
    if (!first)
      kept += '|';
    kept += item;
    first = false;
  }
  SetPropStr("Plugins", kept);
}

void TIKXSettings::Reload() {
  if (FSettings)
    FContext->Registry().Reload(FSettings, FContext->Platform());
}

// --- assistants and the form cache -------------------------------------------------------------

std::optional<KXAssistantEntry> TIKXSettings::FindAssistantEntry(const std::string &name) {
  for (int i = 1;; ++i) {
    std::string text = GetPropStr("Assistant" + std::to_string(i));
    if (text.empty())
      return std::nullopt;
    std::vector<std::string> items = SplitText(text, '|');
    if (!SameText(items[0], name))
      continue;
    if (!TakesScreenShot())
      std::erase_if(items, [](const std::string &item) { return item == "ScrShotForm"; });
    KXAssistantEntry entry;
    entry.name = items[0];
    if (items.size() > 1)
      entry.title = items[1];
    for (size_t f = 2; f < items.size(); ++f)
      entry.forms.push_back(items[f]);
    return entry;
  }
}

std::shared_ptr<INVAssistant> TIKXSettings::GetAssistant(const std::string &name) {
  std::optional<KXAssistantEntry> entry = FindAssistantEntry(name);
  if (!entry)
    return nullptr;
  KXAssistantHooks hooks = FContext->AssistantHooks();
  if (!hooks.load)
    return nullptr;
  std::shared_ptr<INVAssistant> assistant = hooks.load({FModule, entry->title, entry->forms, ExceptionObject()});
  if (assistant)
    ReadFormCache(*assistant);
  return assistant;
}

std::shared_ptr<IKXFields> TIKXSettings::FormCache() {
  std::lock_guard g(FListsLock);
  return FFormCache;
}

void TIKXSettings::FillFormCache(IKXAssistantForms &forms) {
  std::shared_ptr<IKXFields> cache;
  {
    std::lock_guard g(FListsLock);
    if (!FFormCache) {
      FFormCache = NewFieldList();
      FieldsEx(*FFormCache).AcceptData();
    }
    cache = FFormCache;
  }
  for (int f = 0; f < forms.FormCount(); ++f) {
    if (forms.FormModalResult(f) != 1)
      continue;
    for (int i = 0; i < forms.ItemCount(f); ++i) {
      switch (forms.Kind(f, i)) {
      case IKXAssistantForms::ItemKind::checkBox:
        cache->SetContent(forms.ItemName(f, i), forms.Checked(f, i) ? "+" : "-");
        break;
      case IKXAssistantForms::ItemKind::edit:
        cache->SetContent(forms.ItemName(f, i), forms.EditText(f, i));
        break;
      default:
        break;
      }
    }
  }
}

void TIKXSettings::ReadFormCache(IKXAssistantForms &forms) {
  std::shared_ptr<IKXFields> cache = FormCache();
  if (!cache)
    return;
  for (int f = 0; f < forms.FormCount(); ++f) {
    int inputs = 0, found = 0;
    for (int i = 0; i < forms.ItemCount(f); ++i) {
      IKXAssistantForms::ItemKind kind = forms.Kind(f, i);
      if (kind != IKXAssistantForms::ItemKind::edit && kind != IKXAssistantForms::ItemKind::checkBox)
        continue;
      ++inputs;
      std::string name = forms.ItemName(f, i);
      if (cache->FindItem(name) < 0)
        continue;
      ++found;
      std::string value = cache->GetContent(name);
      if (kind == IKXAssistantForms::ItemKind::checkBox)
        forms.SetChecked(f, i, value == "+");
      else
        forms.SetEditText(f, i, value);
    }
    if (inputs > 0 && found == inputs && forms.ContinueEnabled(f))
      forms.ActivateContinue(f);
  }
}

void TIKXSettings::FillFormCache(INVAssistant &assistant) {
  KXAssistantHooks hooks = FContext->AssistantHooks();
  if (IKXAssistantForms *forms = hooks.forms ? hooks.forms(assistant) : nullptr)
    FillFormCache(*forms);
}

void TIKXSettings::ReadFormCache(INVAssistant &assistant) {
  KXAssistantHooks hooks = FContext->AssistantHooks();
  if (IKXAssistantForms *forms = hooks.forms ? hooks.forms(assistant) : nullptr)
    ReadFormCache(*forms);
}

} // namespace kx
