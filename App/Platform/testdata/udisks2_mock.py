'''A stand-in UDisks2 service for tests, as a python3-dbusmock template.

One card reader drive holds the block device "sdb1", whose file system is
mounted at the parameter "mountPoint"; the system disk's "sda1" is mounted at
"/". Every Unmount and PowerOff is appended to the file named by the parameter
"log" as "<object path> <method>". With the parameter "unmountError", Unmount
refuses with that message, as UDisks2 does for a busy file system. With the
parameter "unmountDelay", Unmount answers only after that many seconds, as for a
slow card that still has much to write.
'''
import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

ROOT = '/org/freedesktop/UDisks2/'
FILESYSTEM = 'org.freedesktop.UDisks2.Filesystem'
BLOCK = 'org.freedesktop.UDisks2.Block'
DRIVE = 'org.freedesktop.UDisks2.Drive'


def mount_points(*paths):
    return dbus.Array([dbus.ByteArray(p.encode() + b'\0') for p in paths], signature='ay')


def logging(log, path, method, error='', delay=0):
    code = f'open({log!r}, "a").write({path!r} + " {method}\\n")\n'
    if delay:
        code += f'__import__("time").sleep({delay})\n'
    if error:
        code += (f'raise dbus.exceptions.DBusException({error!r}, '
                 'name="org.freedesktop.UDisks2.Error.DeviceBusy")\n')
    return code


def add_device(mock, name, drive, mounted_at, log, error='', delay=0):
    path = ROOT + 'block_devices/' + name
    mock.AddObject(path, BLOCK, {'Drive': dbus.ObjectPath(drive),
                                 'Device': dbus.ByteArray(b'/dev/' + name.encode() + b'\0')}, [])
    device = mockobject.objects[path]
    device.AddProperties(FILESYSTEM, {'MountPoints': mount_points(mounted_at)})
    device.AddMethod(FILESYSTEM, 'Unmount', 'a{sv}', '', logging(log, path, 'Unmount', error, delay))


def load(mock, parameters):
    log = parameters['log']
    reader = ROOT + 'drives/Card_Reader_0001'
    system = ROOT + 'drives/System_Disk_0002'
    for drive, can_power_off in ((reader, True), (system, False)):
        mock.AddObject(drive, DRIVE, {'CanPowerOff': dbus.Boolean(can_power_off),
                                      'Ejectable': dbus.Boolean(can_power_off)}, [])
        mockobject.objects[drive].AddMethod(DRIVE, 'PowerOff', 'a{sv}', '',
                                            logging(log, drive, 'PowerOff'))
    add_device(mock, 'sdb1', reader, parameters['mountPoint'], log,
               parameters.get('unmountError', ''), parameters.get('unmountDelay', 0))
    add_device(mock, 'sda1', system, '/', log)
