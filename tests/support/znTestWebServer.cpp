#include "znTestWebServer.h"

#include <QTcpServer>

namespace {

const char* kServer = R"PY(
import http.server, os, sys

class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        parts = self.path.split('/')
        if len(parts) >= 4 and parts[1] == 'redirect':
            n = int(parts[2])
            rest = '/'.join(parts[3:])
            self.send_response(302)
            self.send_header('Location', '/redirect/%d/%s' % (n - 1, rest) if n > 1 else '/' + rest)
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        if len(parts) == 3 and parts[1] == 'status':
            self.send_error(int(parts[2]))
            return
        super().do_GET()

os.chdir(sys.argv[1])
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
)PY";

} // namespace

TznTestWebServer::TznTestWebServer(const QString& folder)
{
    FProcess.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kServer), folder});
    if (!FProcess.waitForStarted(5000))
        return;
    while (!FProcess.canReadLine() && FProcess.waitForReadyRead(5000)) {
    }
    FPort = FProcess.readLine().trimmed().toInt();
}

TznTestWebServer::~TznTestWebServer()
{
    FProcess.kill();
    FProcess.waitForFinished(5000);
}

QString TznTestWebServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(FPort).arg(path);
}

QString TznTestWebServer::UnreachableUrl(const QString& path)
{
    // A port that was free a moment ago: nothing accepts there.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}
