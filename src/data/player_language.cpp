// Binding a driver to the language of his stored code.
#include <cstring>

#include "controller/tmx_main.h"
#include "master/master_control.h"

namespace tmx {

int TMX_MAIN::LoadPlayerLanguage(int ucid, int plid) {
    const int index = FindIndex(ucid, plid);
    if (index == -1) {
        if (debugOn())
            console_.out("\nDEBUG:  LoadLanguage(uid,pid) -> DB-Error -> Pl not found (uid %d,pid %d)", ucid,
                         plid);
        return -1;
    }
    data::cl_LfsPlayer& e = entry(index);
    const int found = master ? master->languages.find(e.languageCode.c_str()) : -1;
    if (found == -1) {
        e.language = master ? master->languages.language(0) : nullptr;
        e.languageCode = "ori";
        return -1;
    }
    e.language = master->languages.language(found);
    return 0;
}

const char* TMX_MAIN::LanguageLine(int index, data::LanguageBlockId block, int line) const {
    const data::cl_Language* language = serverLanguage;
    if (index >= 0 && index < usedEntries && entry(index).language) language = entry(index).language;
    if (!language) return "";
    return language->text(block, line).c_str();
}

}  // namespace tmx
