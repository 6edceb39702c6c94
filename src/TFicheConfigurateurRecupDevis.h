#pragma once

#include "settings/module_config.h"

#include <QDialog>

#include <memory>
#include <string>

QT_BEGIN_NAMESPACE
namespace Ui {
class TFicheConfigurateurRecupDevis;
}
QT_END_NAMESPACE

// The retrieval dialog: the module's only window and the owner of all its state.
class TFicheConfigurateurRecupDevis : public QDialog {
    Q_OBJECT

public:
    explicit TFicheConfigurateurRecupDevis(QWidget *parent = nullptr);
    ~TFicheConfigurateurRecupDevis() override;

    void setFichierTemp(const std::string &path) { FichierTemp = path; }
    [[nodiscard]] const std::string &getFichierTemp() const { return FichierTemp; }
    void setFichierConfig(const std::string &path) { FichierConfig = path; }
    [[nodiscard]] const std::string &getFichierConfig() const { return FichierConfig; }

    // The values read from the configuration file.
    [[nodiscard]] const settings::ModuleConfig &configuration() const { return Config; }

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormActivate();
    void btnDevisRecupererClick();
    void btnAnnulerRecuperationClick();

    bool LireFichierConfig(const std::string &path);
    void showConfigurateurBranding();
    void placeLabels();

    std::unique_ptr<Ui::TFicheConfigurateurRecupDevis> ui;

    std::string FichierConfig;
    std::string FichierTemp;
    settings::ModuleConfig Config;
    bool activationDone = false;
};

extern TFicheConfigurateurRecupDevis *FicheConfigurateurRecupDevis;
