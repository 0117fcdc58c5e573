// C# binding of tandrelo-mdns, for Mono and .NET: the sixteen functions of
// tandrelo_mdns.h, and a small wrapper (Responder, Browser, Mdns,
// MdnsException). One file: add it to a project and put the library where
// the runtime finds it (libtandrelo-mdns.so on Linux, tandrelo-mdns.dll on
// Windows).
//
// The library keeps one state per process (one responder, one browser, one
// cache): every Responder and Browser object drives that same one.
//
// Texts: every text the library returns points into a buffer that the
// library owns. A result declared as string would make the marshaller copy
// it and then free the library's buffer (free(): invalid pointer on Linux),
// so every text result here is an IntPtr that Utf8.Read copies, and nothing
// frees it. Every text argument is a byte[] that Utf8.Encode makes:
// NUL-terminated UTF-8 on every runtime, with no marshaller conversion.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace Tandrelo.Mdns
{
    internal static class Native
    {
        internal const string Library = "tandrelo-mdns";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr mdns_version();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr mdns_last_error();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_status();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_start(int port);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_stop();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_add_service(byte[] type, byte[] name, int port, byte[] txtJson);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_clear_services();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_set_hostname(byte[] label);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_set_addr(byte[] ipv4);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr mdns_stats();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr mdns_interfaces();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_set_interface(byte[] ipv4);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_browse_start();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_browse_stop();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr mdns_browse_results();
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int mdns_browse_clear();
    }

    internal static class Utf8
    {
        // A string as NUL-terminated UTF-8; null stays null (NULL for the
        // library). A NUL character would cut the text short, so it is refused.
        internal static byte[] Encode(string value, string what)
        {
            if (value == null)
                return null;
            if (value.IndexOf('\0') >= 0)
                throw new ArgumentException(what + " cannot contain NUL characters", what);
            byte[] text = Encoding.UTF8.GetBytes(value);
            byte[] terminated = new byte[text.Length + 1];
            Buffer.BlockCopy(text, 0, terminated, 0, text.Length);
            return terminated;
        }

        // Copies the library's NUL-terminated UTF-8 text; never frees or writes it.
        internal static string Read(IntPtr text)
        {
            if (text == IntPtr.Zero)
                return null;
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0)
                length++;
            byte[] bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }
    }

    /// <summary>A library function returned a negative code.</summary>
    public class MdnsException : Exception
    {
        public const int Invalid = -1, Bind = -2, Thread = -3, AlreadyRunning = -7;

        /// <summary>The negative result: Invalid, Bind, Thread or AlreadyRunning.</summary>
        public int Code { get; private set; }
        /// <summary>The C function's name, for instance "mdns_start".</summary>
        public string Function { get; private set; }

        /// <param name="message">the library's last-error text right after the call</param>
        public MdnsException(string function, int code, string message) : base(message)
        {
            Function = function;
            Code = code;
        }

        internal static int Check(string function, int result)
        {
            if (result < 0)
                throw new MdnsException(function, result, Mdns.LastError);
            return result;
        }
    }

    /// <summary>The library's process-wide reports and texts. Reports are JSON texts.</summary>
    public static class Mdns
    {
        public static string Version { get { return Utf8.Read(Native.mdns_version()); } }
        public static string LastError { get { return Utf8.Read(Native.mdns_last_error()); } }
        /// <summary>The status report, a JSON object.</summary>
        public static string Stats { get { return Utf8.Read(Native.mdns_stats()); } }
        /// <summary>The usable IPv4 adapters, a JSON array.</summary>
        public static string Interfaces { get { return Utf8.Read(Native.mdns_interfaces()); } }

        // TXT attributes as the flat JSON object the library reads; it reads
        // quoted text without escapes, so '"' and '\' are refused.
        internal static string TxtJson(IDictionary<string, string> txt)
        {
            if (txt == null)
                return null;
            var json = new StringBuilder("{");
            foreach (var pair in txt)
            {
                foreach (var item in new[] { pair.Key, pair.Value ?? "" })
                    if (item.IndexOf('"') >= 0 || item.IndexOf('\\') >= 0)
                        throw new ArgumentException("TXT keys and values cannot contain '\"' or '\\': " + item, "txt");
                if (json.Length > 1)
                    json.Append(',');
                json.Append('"').Append(pair.Key).Append("\":\"").Append(pair.Value ?? "").Append('"');
            }
            return json.Append('}').ToString();
        }
    }

    /// <summary>The library's one responder. Every Responder object drives the
    /// same process-wide responder; a second Start throws with code AlreadyRunning.
    /// Dispose stops it. Settings apply at once and are announced while it runs.</summary>
    public sealed class Responder : IDisposable
    {
        public const int DefaultPort = 5353;

        public bool Running { get { return Native.mdns_status() == 1; } }

        /// <summary>The host label, without ".local".</summary>
        public string Hostname
        {
            set { MdnsException.Check("mdns_set_hostname", Native.mdns_set_hostname(Utf8.Encode(value, "Hostname"))); }
        }

        /// <summary>The announced IPv4 address; "" or null picks the best adapter's.</summary>
        public string Address
        {
            set { MdnsException.Check("mdns_set_addr", Native.mdns_set_addr(Utf8.Encode(value, "Address"))); }
        }

        /// <summary>The adapter to join and send on; "" or null for automatic.</summary>
        public string Interface
        {
            set { MdnsException.Check("mdns_set_interface", Native.mdns_set_interface(Utf8.Encode(value, "Interface"))); }
        }

        /// <summary>Adds or updates a service; returns its index in the table.
        /// txtJson is a flat JSON object of attributes, or null.</summary>
        public int AddService(string type, string name, int port, string txtJson = null)
        {
            return MdnsException.Check("mdns_add_service", Native.mdns_add_service(
                Utf8.Encode(type, "type"), Utf8.Encode(name, "name"), port, Utf8.Encode(txtJson, "txtJson")));
        }

        public int AddService(string type, string name, int port, IDictionary<string, string> txt)
        {
            return AddService(type, name, port, Mdns.TxtJson(txt));
        }

        public void ClearServices() { MdnsException.Check("mdns_clear_services", Native.mdns_clear_services()); }

        /// <summary>Starts on a UDP port (5353 by default) and announces.</summary>
        public Responder Start(int port = DefaultPort)
        {
            MdnsException.Check("mdns_start", Native.mdns_start(port));
            return this;
        }

        public void Stop() { MdnsException.Check("mdns_stop", Native.mdns_stop()); }
        public void Dispose() { Stop(); }

        /// <summary>The status report, a JSON object.</summary>
        public string Stats { get { return Mdns.Stats; } }
    }

    /// <summary>The library's one browser. It rides on the responder's socket while
    /// the responder runs, and binds port 5353 itself otherwise. Dispose stops it;
    /// the cache outlives a stop.</summary>
    public sealed class Browser : IDisposable
    {
        public Browser Start()
        {
            MdnsException.Check("mdns_browse_start", Native.mdns_browse_start());
            return this;
        }

        public void Stop() { MdnsException.Check("mdns_browse_stop", Native.mdns_browse_stop()); }
        public void Dispose() { Stop(); }

        /// <summary>The browse report: a JSON array of the cached records.</summary>
        public string Results { get { return Utf8.Read(Native.mdns_browse_results()); } }

        /// <summary>Empties the cache; browsing goes on.</summary>
        public void Clear() { MdnsException.Check("mdns_browse_clear", Native.mdns_browse_clear()); }
    }
}
