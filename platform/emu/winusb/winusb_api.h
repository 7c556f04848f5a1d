// WinUSB operations and USB descriptor types, declared for the Linux build
// and implemented over the USB bus in use (usb_bus.h).
#pragma once

#include "platform/emu/win_types.h"

typedef PVOID WINUSB_INTERFACE_HANDLE;
typedef WINUSB_INTERFACE_HANDLE* PWINUSB_INTERFACE_HANDLE;

enum USBD_PIPE_TYPE {
    UsbdPipeTypeControl,
    UsbdPipeTypeIsochronous,
    UsbdPipeTypeBulk,
    UsbdPipeTypeInterrupt
};

struct USB_INTERFACE_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    UCHAR bInterfaceNumber;
    UCHAR bAlternateSetting;
    UCHAR bNumEndpoints;
    UCHAR bInterfaceClass;
    UCHAR bInterfaceSubClass;
    UCHAR bInterfaceProtocol;
    UCHAR iInterface;
};
typedef USB_INTERFACE_DESCRIPTOR* PUSB_INTERFACE_DESCRIPTOR;

struct WINUSB_PIPE_INFORMATION {
    USBD_PIPE_TYPE PipeType;
    UCHAR PipeId;
    USHORT MaximumPacketSize;
    UCHAR Interval;
};
typedef WINUSB_PIPE_INFORMATION* PWINUSB_PIPE_INFORMATION;

BOOL WINAPI WinUsb_Initialize(HANDLE deviceHandle, PWINUSB_INTERFACE_HANDLE interfaceHandle);
BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE interfaceHandle);
BOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE interfaceHandle,
                                          UCHAR alternateInterfaceNumber,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor);
BOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE interfaceHandle,
                             UCHAR alternateInterfaceNumber, UCHAR pipeIndex,
                             PWINUSB_PIPE_INFORMATION pipeInformation);
BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE interfaceHandle, UCHAR pipeId, PUCHAR buffer,
                             ULONG bufferLength, PULONG lengthTransferred, LPOVERLAPPED overlapped);
