#include "automation/registry_scripts.h"

#include <cwctype>

#include "automation/typelib_ids.h"

namespace KestAXLib {

std::wstring ScriptGuidText(REFGUID guid) {
  wchar_t text[kGuidStringLength] = {};
  StringFromGUID2(guid, text, kGuidStringLength);
  std::wstring result(text);
  // "{XXXXXXXX-XXXX-" is 15 characters; the third group is the next four.
  for (size_t i = 15; i < 19 && i < result.size(); ++i) result[i] = static_cast<wchar_t>(std::towlower(result[i]));
  return result;
}

std::wstring AppIdRegistryScript() {
  return LR"(HKCR
{
  NoRemove AppID
  {
    '%APPID%' = s 'KestNetX'
    'KestNetX.DLL'
    {
      val AppID = s '%APPID%'
    }
  }
}
)";
}

std::wstring ClassRegistryScript(const KestNetClassInfo& info) {
  const std::wstring versioned = VersionedProgId(info);
  const std::wstring independent = IndependentProgId(info);
  const std::wstring description = info.description;
  const std::wstring clsid = ScriptGuidText(*info.clsid);
  const std::wstring libid = ScriptGuidText(LIBID_KestNet);
  std::wstring script;
  script += L"HKCR\n{\n";
  script += L"  " + versioned + L" = s '" + description + L"'\n";
  script += L"  {\n";
  script += L"    CLSID = s '" + clsid + L"'\n";
  script += L"  }\n";
  script += L"  " + independent + L" = s '" + description + L"'\n";
  script += L"  {\n";
  script += L"    CLSID = s '" + clsid + L"'\n";
  script += L"    CurVer = s '" + versioned + L"'\n";
  script += L"  }\n";
  script += L"  NoRemove CLSID\n";
  script += L"  {\n";
  script += L"    ForceRemove " + clsid + L" = s '" + description + L"'\n";
  script += L"    {\n";
  script += L"      ProgID = s '" + versioned + L"'\n";
  script += L"      VersionIndependentProgID = s '" + independent + L"'\n";
  script += L"      ForceRemove 'Programmable'\n";
  script += L"      InprocServer32 = s '%MODULE%'\n";
  script += L"      {\n";
  script += L"        val ThreadingModel = s 'Apartment'\n";
  script += L"      }\n";
  script += L"      'TypeLib' = s '" + libid + L"'\n";
  script += L"      val AppID = s '%APPID%'\n";
  script += L"    }\n";
  script += L"  }\n";
  script += L"}\n";
  return script;
}

std::wstring RegistryScript(UINT resourceId) {
  if (resourceId == kAppIdRegistryResource) return AppIdRegistryScript();
  for (const KestNetClassInfo& info : KestNetClasses()) {
    if (info.registryResource == resourceId) return ClassRegistryScript(info);
  }
  return {};
}

}  // namespace KestAXLib
