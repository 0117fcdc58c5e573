// Tests of the C# binding under Mono, against the built library, inside the
// network namespace of scripts/test-bindings.sh: a responder started from C#
// answers a real query, the browser caches a python3-zeroconf peer, and
// every refusal throws MdnsException or ArgumentException.
//   mono BindingTests.exe PEER_PYTHON PEER_SCRIPT
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Net;
using System.Net.Sockets;
using System.Text;
using System.Threading;
using Tandrelo.Mdns;

static class BindingTests
{
    static int failures;

    static void Check(string what, bool ok, string detail = "")
    {
        Console.WriteLine((ok ? "ok: " : "FAIL: ") + what + (ok ? "" : " " + detail));
        if (!ok)
            failures++;
    }

    static int FreeUdpPort()
    {
        using (var s = new UdpClient(new IPEndPoint(IPAddress.Loopback, 0)))
            return ((IPEndPoint)s.Client.LocalEndPoint).Port;
    }

    static byte[] Query(ushort id, string name, ushort rrtype)
    {
        var q = new List<byte> { (byte)(id >> 8), (byte)id, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0 };
        foreach (var label in name.Split('.'))
        {
            byte[] raw = Encoding.UTF8.GetBytes(label);
            q.Add((byte)raw.Length);
            q.AddRange(raw);
        }
        q.AddRange(new byte[] { 0, (byte)(rrtype >> 8), (byte)rrtype, 0, 1 });
        return q.ToArray();
    }

    static void ResponderAnswersARealQuery()
    {
        int port = FreeUdpPort();
        using (var responder = new Responder())
        {
            responder.Hostname = "cshost";
            responder.Address = "10.7.8.9";
            responder.ClearServices();
            Check("AddService returns the index",
                  responder.AddService("_http._tcp", "Cs Web", 8080,
                                       new Dictionary<string, string> { { "path", "/" } }) == 0);
            responder.Start(port);
            Check("running after Start", responder.Running);

            using (var client = new UdpClient(new IPEndPoint(IPAddress.Loopback, 0)))
            {
                client.Client.ReceiveTimeout = 3000;
                byte[] query = Query(0x5151, "cshost.local", 1);
                client.Send(query, query.Length, new IPEndPoint(IPAddress.Loopback, port));
                var from = new IPEndPoint(IPAddress.Any, 0);
                byte[] reply = client.Receive(ref from);
                Check("the reply has the query's id and answer flags",
                      reply[0] == 0x51 && reply[1] == 0x51 && reply[2] == 0x84 && reply[3] == 0x00);
                string address = string.Join(".", reply[reply.Length - 4], reply[reply.Length - 3],
                                             reply[reply.Length - 2], reply[reply.Length - 1]);
                Check("the A record holds the address", address == "10.7.8.9", address);
            }
            string stats = responder.Stats;
            Check("the status report counts the query",
                  stats.Contains("\"running\":1,\"port\":" + port + ",\"queries\":1,\"answers\":1,")
                  && stats.Contains("\"hostname\":\"cshost\",\"addr\":\"10.7.8.9\"")
                  && stats.Contains("{\"type\":\"_http._tcp\",\"name\":\"Cs Web\",\"port\":8080,\"txt\":{\"path\":\"/\"}}"),
                  stats);
        }
        Check("stopped by Dispose", !new Responder().Running);
    }

    static void BrowserCachesAPeer(string python, string peerScript)
    {
        using (var browser = new Browser().Start())
        {
            var start = new ProcessStartInfo(python, "\"" + peerScript + "\" \"Cs Zc\" _tandrelo-cs._tcp 8126 cszc 127.0.0.1 k=v")
            {
                UseShellExecute = false, RedirectStandardInput = true, RedirectStandardOutput = true,
            };
            using (var peer = Process.Start(start))
            {
                string line = peer.StandardOutput.ReadLine();
                Check("the zeroconf peer registers", line == "registered", line);
                string want = "\"name\":\"Cs Zc._tandrelo-cs._tcp.local\",\"rrtype\":33,\"ip\":\"\",\"port\":8126,\"target\":\"cszc.local\"";
                string results = "";
                var clock = Stopwatch.StartNew();
                while (clock.Elapsed.TotalSeconds < 15)
                {
                    results = browser.Results;
                    if (results.Contains(want) && results.Contains("\"name\":\"cszc.local\",\"rrtype\":1,\"ip\":\"127.0.0.1\"")
                        && results.Contains("\"target\":\"Cs Zc._tandrelo-cs._tcp.local\""))
                        break;
                    Thread.Sleep(100);
                }
                Check("the browse report holds the peer's SRV, A and PTR", results.Contains(want)
                      && results.Contains("\"name\":\"cszc.local\",\"rrtype\":1,\"ip\":\"127.0.0.1\"")
                      && results.Contains("\"target\":\"Cs Zc._tandrelo-cs._tcp.local\""), results);
                Check("the status report counts the entries", Mdns.Stats.Contains("\"browsing\":1,"));
                browser.Clear();
                Check("Clear empties the report", browser.Results == "[]", browser.Results);
                peer.StandardInput.Close();
                Check("the peer exits cleanly", peer.WaitForExit(20000) && peer.ExitCode == 0);
            }
        }
        Check("stopped by Dispose", Mdns.Stats.Contains("\"browsing\":0,"));
    }

    static void Throws(string what, Action call, string function, int code, string message)
    {
        try
        {
            call();
            Check(what, false, "no exception");
        }
        catch (MdnsException e)
        {
            Check(what, e.Function == function && e.Code == code && e.Message == message
                  && Mdns.LastError == message, e.Function + " " + e.Code + " " + e.Message);
        }
    }

    static void RefusedCallsThrow()
    {
        var r = new Responder();
        r.ClearServices();
        Throws("port out of range", () => r.Start(70000), "mdns_start", MdnsException.Invalid, "Invalid port specified");
        Throws("empty service type", () => r.AddService("", "x", 1), "mdns_add_service", -1,
               "Service type cannot be empty (e.g. '_http._tcp')");
        Throws("service port 0", () => r.AddService("_x._tcp", "x", 0), "mdns_add_service", -1,
               "Port must be between 1 and 65535");
        Throws("host name with a dot", () => r.Hostname = "a.b", "mdns_set_hostname", -1,
               "Hostname label cannot contain dots (provide label without .local)");
        Throws("bad address", () => r.Address = "300.1.1.1", "mdns_set_addr", -1, "Invalid IPv4 address format");
        Throws("unknown adapter", () => r.Interface = "10.99.0.1", "mdns_set_interface", -1,
               "Interface 10.99.0.1 is not an active non-loopback adapter");
        int port = FreeUdpPort();
        using (new Responder().Start(port))
            Throws("second start", () => r.Start(port), "mdns_start", MdnsException.AlreadyRunning,
                   "mDNS responder is already running");
        using (var holder = new Socket(AddressFamily.InterNetwork, SocketType.Dgram, ProtocolType.Udp))
        {
            holder.ExclusiveAddressUse = true;  // Mono sets SO_REUSEADDR otherwise
            holder.Bind(new IPEndPoint(IPAddress.Any, 5353));
            Throws("port 5353 taken", () => new Browser().Start(), "mdns_browse_start", MdnsException.Bind,
                   "browse bind() failed with error 98");
        }

        string before = Mdns.LastError;
        var refused = new Dictionary<string, Action>
        {
            { "NUL in a host name", () => r.Hostname = "a\0b" },
            { "NUL in a service name", () => r.AddService("_x._tcp", "n\0", 1) },
            { "NUL in a TXT value", () => r.AddService("_x._tcp", "n", 1, new Dictionary<string, string> { { "k", "a\0b" } }) },
            { "quote in a TXT value", () => r.AddService("_x._tcp", "n", 1, new Dictionary<string, string> { { "k", "a\"b" } }) },
        };
        foreach (var pair in refused)
        {
            try
            {
                pair.Value();
                Check(pair.Key + " is refused", false, "no exception");
            }
            catch (ArgumentException)
            {
                Check(pair.Key + " is refused before the call", Mdns.LastError == before);
            }
        }
        Check("no service was added", Mdns.Stats.Contains("\"services_count\":0,"), Mdns.Stats);
    }

    static void TextsStayTheLibrarys()
    {
        // Read many times: a binding that freed the library's buffers would
        // have aborted at the first read.
        string version = null;
        for (int i = 0; i < 1000; i++)
            version = Mdns.Version + Mdns.Stats.Substring(0, 1) + Mdns.Interfaces.Substring(0, 1);
        Check("texts read again and again", version == "1.1.0{[", version);
    }

    static int Main(string[] args)
    {
        Console.WriteLine("tandrelo-mdns " + Mdns.Version + " from C#");
        TextsStayTheLibrarys();
        ResponderAnswersARealQuery();
        RefusedCallsThrow();
        BrowserCachesAPeer(args[0], args[1]);
        Console.WriteLine(failures == 0 ? "all passed" : failures + " failed");
        return failures == 0 ? 0 : 1;
    }
}
