// The QML module org.kde.marigold, which the Share menu's settings page of "Plinth" imports for
// its PlinthAccount.
#include <QQmlExtensionPlugin>
#include <QtQml>

#include "catalogue.h"
#include "plinth_account.h"

namespace marigold::purpose {

// A function of this module, by whose address the module finds its own file.
void qmlCatalogueAnchor() {}

class PlinthQmlModule : public QQmlExtensionPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)
 public:
  void registerTypes(const char* uri) override {
    integrations::useCatalogue(reinterpret_cast<void*>(&qmlCatalogueAnchor),
                               MARIGOLD_RELATIVE_QML_LOCALE);
    qmlRegisterType<PlinthAccount>(uri, 1, 0, "PlinthAccount");
  }
};

}  // namespace marigold::purpose

#include "plinth_qml_module.moc"
