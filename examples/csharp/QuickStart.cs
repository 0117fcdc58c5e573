using System;
using System.Threading;
using Tandrelo.Mdns;

static class QuickStart
{
    static void Main()
    {
        using (var responder = new Responder())
        {
            responder.Hostname = "kitchen";
            responder.AddService("_http._tcp", "Kitchen Web", 8080, "{\"path\":\"/\"}");
            responder.Start();
            using (var browser = new Browser().Start())   // rides on the responder's socket
            {
                Console.WriteLine("announcing kitchen.local, browsing for 5 s");
                Thread.Sleep(5000);
                Console.WriteLine(browser.Results);   // the browse report, JSON
            }
        }

        try
        {
            new Responder().Start(70000);
        }
        catch (MdnsException error)
        {
            Console.WriteLine(error.Function + " " + error.Code + " " + error.Message);
            // mdns_start -1 Invalid port specified
        }
    }
}
