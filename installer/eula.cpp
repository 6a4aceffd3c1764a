// eula.cpp - the agreement prompt: the text in the user's language, the question, the answer.
// The twenty texts are data files (installer/data/eula.<code>.txt) embedded at build time; a
// language whose file is missing or empty shows the English text. Consent is a first
// character "y" or "Y"; anything else, end of input included, is refusal.
#include <cstdio>
#include <cstring>

#include "base/utils.h"
#include "installer/setup.h"

KORVI_EMBEDDED(EULA_en_US);
KORVI_EMBEDDED(EULA_es_ES);
KORVI_EMBEDDED(EULA_it_IT);
KORVI_EMBEDDED(EULA_fr_FR);
KORVI_EMBEDDED(EULA_ge_GE);
KORVI_EMBEDDED(EULA_pr_BR);
KORVI_EMBEDDED(EULA_cs_CZ);
KORVI_EMBEDDED(EULA_fi_FI);
KORVI_EMBEDDED(EULA_hu_HU);
KORVI_EMBEDDED(EULA_nl_NL);
KORVI_EMBEDDED(EULA_no_NO);
KORVI_EMBEDDED(EULA_pl_PL);
KORVI_EMBEDDED(EULA_ru_RU);
KORVI_EMBEDDED(EULA_sv_SE);
KORVI_EMBEDDED(EULA_tr_TR);
KORVI_EMBEDDED(EULA_da_DK);
KORVI_EMBEDDED(EULA_zh_CN);
KORVI_EMBEDDED(EULA_zh_TW);
KORVI_EMBEDDED(EULA_ko_KO);
KORVI_EMBEDDED(EULA_ja_JP);

namespace {

// Position n in kEulaLangList is kEulaTexts[n - 1].
constexpr char kEulaLangList[] =
    ",en_US,es_ES,it_IT,fr_FR,ge_GE,pr_BR,cs_CZ,fi_FI,hu_HU,nl_NL,no_NO,pl_PL,ru_RU,sv_SE,"
    "tr_TR,da_DK,zh_CN,zh_TW,ko_KO,ja_JP,";
const char* const kEulaTexts[] = {
    EULA_en_US, EULA_es_ES, EULA_it_IT, EULA_fr_FR, EULA_ge_GE, EULA_pr_BR, EULA_cs_CZ,
    EULA_fi_FI, EULA_hu_HU, EULA_nl_NL, EULA_no_NO, EULA_pl_PL, EULA_ru_RU, EULA_sv_SE,
    EULA_tr_TR, EULA_da_DK, EULA_zh_CN, EULA_zh_TW, EULA_ko_KO, EULA_ja_JP,
};
constexpr int kEulaCount = sizeof kEulaTexts / sizeof kEulaTexts[0];
static_assert(kEulaCount == 20, "twenty agreement languages");

constexpr int kAnswerSize = 4;  // the answer: at most 3 characters

}  // namespace

const char* GetEULAText(const char* code) {
  int n = FindToken(code, kEulaLangList);
  if (n >= 1 && n <= kEulaCount && kEulaTexts[n - 1][0]) return kEulaTexts[n - 1];
  return EULA_en_US;
}

bool UserAcceptedEULA() {
  const char* pText = GetEULAText(GetTargetNLSLang());
  // The question is the text's last line: the cursor waits one blank after it, not on the
  // next line, whatever line ends the data file closes with.
  size_t n = strlen(pText);
  while (n > 0 && (pText[n - 1] == '\n' || pText[n - 1] == '\r')) n--;
  fwrite(pText, 1, n, stdout);
  fputs(" ", stdout);
  fflush(stdout);
  char answer[kAnswerSize] = {};
  if (!Gets(answer, kAnswerSize)) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}
