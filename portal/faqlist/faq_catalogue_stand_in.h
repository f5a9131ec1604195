// The FAQ catalogue stand-in: entries are rows of FAQLIST in the catalogue database (application
// "RAvuruvo"), FAQ_ID assigned by the database.
//
// The catalogue writes through the call's catalogue connection, so inside a unit of work its row
// is committed or rolled back with the call. A truly separate catalogue would keep its entry when
// the publishing call fails later; here it cannot: the default installation keeps the catalogue
// in the system database file, and on SQLite a second writer on that file would wait forever for
// the write lock the call itself holds.
#ifndef HELIQ_PORTAL_FAQLIST_FAQ_CATALOGUE_STAND_IN_H_
#define HELIQ_PORTAL_FAQLIST_FAQ_CATALOGUE_STAND_IN_H_

namespace heliq {

// Registers "RAvuruvo.Faqlist".
void RegisterFaqCatalogueComponent();

}  // namespace heliq

#endif  // HELIQ_PORTAL_FAQLIST_FAQ_CATALOGUE_STAND_IN_H_
