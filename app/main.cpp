// kestrel: the operator program. Options as kestrel-cli's: --home DIR keeps the INI files in DIR
// (KESTREL_HOME), --simulate N runs on N simulated devices (KESTREL_SIMULATE), --sim-config FILE
// on the simulated devices FILE describes (KESTREL_SIM_CONFIG), --sleep-scale S scales every wait
// (0: instant, the clock still advancing by the modelled time; for tests and demonstrations).
// They take effect before the first device or INI access.

#include "app/kestrel_app.h"
#include "app/station/kestrellib_binding.h"
#include "platform/clock/clock.h"
#include "sim/backends/environment.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>

#include <cstdio>

namespace {

constexpr int kExitUsage = 2;
constexpr int kMaxSimulated = 64;

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Kestrel: the Tarn4410 programming station"));
    parser.addHelpOption();
    const QCommandLineOption home(QStringLiteral("home"),
                                  QStringLiteral("Directory of the INI files (KESTREL_HOME)."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Run on N simulated devices (0-64)."),
                                      QStringLiteral("N"));
    const QCommandLineOption simConfig(QStringLiteral("sim-config"),
                                       QStringLiteral("Simulated devices described by FILE."),
                                       QStringLiteral("FILE"));
    QCommandLineOption sleepScale(QStringLiteral("sleep-scale"),
                                  QStringLiteral("Scale of every wait: 0 makes them instant."),
                                  QStringLiteral("S"));
    sleepScale.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({home, simulate, simConfig, sleepScale});
    parser.process(application);

    if (parser.isSet(home)) {
        qputenv("KESTREL_HOME", parser.value(home).toLocal8Bit());
    }
    if (parser.isSet(simulate)) {
        bool ok = false;
        const int n = parser.value(simulate).toInt(&ok);
        if (!ok || n < 0 || n > kMaxSimulated) {
            std::fprintf(stderr, "--simulate: %s not in [0 - %d]\n",
                         parser.value(simulate).toLocal8Bit().constData(), kMaxSimulated);
            return kExitUsage;
        }
        qputenv("KESTREL_SIMULATE", QByteArray::number(n));
    }
    if (parser.isSet(simConfig)) {
        const QString file = parser.value(simConfig);
        if (!QFileInfo(file).isFile()) {
            std::fprintf(stderr, "--sim-config: File does not exist: %s\n",
                         file.toLocal8Bit().constData());
            return kExitUsage;
        }
        qputenv("KESTREL_SIM_CONFIG", file.toLocal8Bit());
    }

    if (parser.isSet(sleepScale)) {
        bool ok = false;
        const double scale = parser.value(sleepScale).toDouble(&ok);
        if (!ok || scale < 0) {
            std::fprintf(stderr, "--sleep-scale: %s is not a number of 0 or more\n",
                         parser.value(sleepScale).toLocal8Bit().constData());
            return kExitUsage;
        }
        kestrel::platform::SetSleepScale(scale);
    }

    kestrel::sim::backends::InstallFromEnvironment();
    return kestrel::app::CKestrelApp().Run(kestrel::station::KestrellibBinding());
}
