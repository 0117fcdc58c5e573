// What the binding avoids: a text result declared as string. The marshaller
// copies the text and then frees the pointer the library returned, which
// points into the library's own static buffer: glibc aborts the process
// with "free(): invalid pointer", or the free itself faults. test-bindings.sh
// expects this program to die in the marshaller's free, so the README's
// warning stays true.
using System;
using System.Runtime.InteropServices;

static class StringResultTrap
{
    [DllImport("tandrelo-mdns", CallingConvention = CallingConvention.Cdecl)]
    static extern string mdns_version();

    static int Main()
    {
        Console.WriteLine(mdns_version());
        Console.WriteLine(mdns_version());
        return 0;
    }
}
