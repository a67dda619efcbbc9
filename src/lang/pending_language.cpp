// Placeholders that keep the tree linking while the language file loader and
// the language dialog are being written; deleted when they land.
#include "app/log.h"
#include "lang/language_dlg.h"
#include "lang/language_strings.h"

HRESULT CLanguageStrings::Load(Xml&, const std::string&) { return E_NOTIMPL; }
void LoadLanguageFile(CLanguageStrings&, Machine&, CInstallLog&) {}
const char* DisplayLanguageName(int) { return "English US"; }
void CLanguageDlg::OnInitDialog() {}
std::vector<std::string> CLanguageDlg::SortedEntries() const { return added_; }
void CLanguageDlg::OnOK(const std::string&) { m_nLanguageId = 1033; }
