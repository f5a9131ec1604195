// The back-end selector ("EBackend.Selector") and the language list ("LanguageList").
//
// The selector knows the three back-office generations as back ends 1 (Mk4), 3 (Mk5) and 8 (Mk6).
// The default is [backend] default of the configuration, or, when that is empty or 0,
// [backoffice] generation. Its "componentid" is [backend] component_id when set, else
// "HeliqMk<n>.VIS"; the other back ends always carry the built-in identifier.
//
// The language list names the common locale numbers (1033 English, 1031 German, 1036 French,
// 1040 Italian, 1034 and 3082 Spanish, 1041 Japanese, 1043 Dutch, 2052 Chinese, ...).
#ifndef HELIQ_PORTAL_BACKEND_BACKEND_COMPONENTS_H_
#define HELIQ_PORTAL_BACKEND_BACKEND_COMPONENTS_H_

namespace heliq {

// Registers "EBackend.Selector" and "LanguageList".
void RegisterBackendComponents();

}  // namespace heliq

#endif  // HELIQ_PORTAL_BACKEND_BACKEND_COMPONENTS_H_
