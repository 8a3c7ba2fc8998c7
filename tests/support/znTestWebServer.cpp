#include "znTestWebServer.h"

#include <QTcpServer>

namespace {

const char* kServer = R"PY(
import base64, http.server, os, sys, time

class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def send_body(self, data, declared, pause, stop):
        self.send_response(200)
        self.send_header('Content-Type', 'application/octet-stream')
        self.send_header('Content-Length', str(declared))
        self.end_headers()
        try:
            if pause:
                for i in range(len(data)):
                    self.wfile.write(data[i:i + 1])
                    self.wfile.flush()
                    time.sleep(pause)
            else:
                self.wfile.write(data[:stop])
                self.wfile.flush()
                if stop < len(data):
                    time.sleep(60)
        except OSError:
            pass
        self.close_connection = True

    def do_GET(self):
        parts = self.path.split('/')
        if len(parts) >= 3 and parts[1] in ('trickle', 'short', 'stall'):
            with open('/'.join(parts[2:]), 'rb') as f:
                data = f.read()
            if parts[1] == 'trickle':
                self.send_body(data, len(data), 0.05, len(data))
            elif parts[1] == 'short':
                self.send_body(data, len(data) + 1000, 0, len(data))
            else:
                self.send_body(data, len(data), 0, len(data) // 2)
            return
        if len(parts) >= 3 and parts[1] == 'loop':
            self.send_response(302)
            self.send_header('Location', self.path)
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        if len(parts) >= 3 and parts[1] == 'private':
            wanted = 'Basic ' + base64.b64encode(b'admin:s3cret').decode()
            if self.headers.get('Authorization') != wanted:
                self.send_response(401)
                self.send_header('WWW-Authenticate', 'Basic realm="test"')
                self.send_header('Content-Length', '0')
                self.end_headers()
                return
            self.path = '/' + '/'.join(parts[2:])
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
