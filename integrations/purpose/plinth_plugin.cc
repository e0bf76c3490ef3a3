// The Purpose plug-in "Plinth": KDE's Share menu offers it for images (its metadata says so) and
// makes a PlinthJob for each share.
#include <purpose/pluginbase.h>

#include <KPluginFactory>

#include "catalogue.h"
#include "plinth_job.h"

namespace marigold::purpose {

// A function of this module, by whose address the module finds its own file.
void catalogueAnchor() {}

class PlinthPlugin : public Purpose::PluginBase {
  Q_OBJECT
 public:
  PlinthPlugin(QObject* parent, const QVariantList&) : Purpose::PluginBase(parent) {
    integrations::useCatalogue(reinterpret_cast<void*>(&catalogueAnchor), MARIGOLD_RELATIVE_LOCALE);
  }
  Purpose::Job* createJob() const override { return new PlinthJob(nullptr); }
};

K_PLUGIN_CLASS_WITH_JSON(PlinthPlugin, "marigoldplugin.json")

}  // namespace marigold::purpose

#include "plinth_plugin.moc"
