#include "App/AppTestSupport.h"

#include <QFile>

namespace vexa::test {

TScopedEnv::TScopedEnv(const char* AName, const QString& AValue)
    : Name_(AName), Old_(qgetenv(AName)), HadOld_(qEnvironmentVariableIsSet(AName)) {
  qputenv(AName, AValue.toUtf8());
}

TScopedEnv::~TScopedEnv() {
  if (HadOld_)
    qputenv(Name_.constData(), Old_);
  else
    qunsetenv(Name_.constData());
}

QString FileText(const QString& APath) {
  QFile file(APath);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(file.readAll());
}

}  // namespace vexa::test
