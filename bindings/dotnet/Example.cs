// Finds the sensors, then reads a parameter group, one profile and the
// image of the first one. Build: mcs Example.cs Vorex.cs (or csc); run
// with vorex_c and vorex where the system finds libraries.
using System;
using Vorex;

static class Example
{
    static int Main()
    {
        Library.Init();
        try
        {
            Console.WriteLine("vorex library version 0x{0:x8}", Library.Version);
            Session[] sensors = Library.Search();
            Console.WriteLine("{0} sensor(s)", sensors.Length);
            foreach (Session s in sensors) Console.WriteLine("  serial {0} at {1}", s.Serial, s.Address);
            if (sensors.Length == 0) return 0;
            using (Session sensor = sensors[0])
            {
                sensor.Connect();
                byte[] laser = sensor.ReadGroup(Group.Laser);
                Console.WriteLine("laser group: {0} bytes, first {1}", laser.Length, laser[0]);
                Profile profile = null;
                for (int tries = 0; profile == null && tries < 50; ++tries) profile = sensor.GetResult();
                if (profile != null) Console.WriteLine("profile: type {0}, {1} points", profile.DataType, profile.X.Length);
                Console.WriteLine("image: {0} bytes", sensor.GetImage().Length);
            }
            for (int i = 1; i < sensors.Length; ++i) sensors[i].Dispose();
            return 0;
        }
        catch (VorexException e)
        {
            Console.WriteLine(e.Message);
            return 1;
        }
        finally
        {
            Library.Cleanup();
        }
    }
}
