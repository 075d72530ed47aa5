// How the status line looks and what a click on it does, decided from its caption alone.
#pragma once

#include <QString>

struct ResponseLabelLook
{
    enum Colour
    {
        Red,      // 255
        Green,    // 65280
        Orange,   // 33023: red 255, green 128
        Highlight // the system's selection colour
    };
    enum Pointer
    {
        DefaultPointer = 0,
        CustomPointer = 99 // the hand of the link labels
    };
    Colour colour = Highlight;
    Pointer pointer = DefaultPointer;
    bool hidesRegisterPicture = false;
};

// First match wins, letter case ignored: "error", "[Err", "tidak terhubung", "terhubung", "...".
ResponseLabelLook LookOfResponseLabel(const QString& caption);

enum class ResponseLabelRemedy
{
    None,
    ApiKeyNotEditable,  // "error" and "apikey": a message box
    RegisterCompany,    // "error" and "company name is required": the registration window
    AskConnectionString // "[Err": a new connection string, then a reload
};

ResponseLabelRemedy RemedyForResponseLabel(const QString& caption);
