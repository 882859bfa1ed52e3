/*
 * Quillcast's resources: the texts, messages, alert and About box of the plug-in.
 * Compiled into Quillcast.bundle/Contents/Resources/Quillcast.rsrc at build time.
 * The language is described in README.md beside this file.
 */

/* ---- Names and version ---- */

resource 'STR#' (32766, "Names") {
  {
    "Quillcast",
    "Quillcast 1.0",                     /* 2: the version text of the About box */
    "Mail merge for your email client",
    "QuillcastExternals",
    "Quillcast Preferences",             /* 5: the preferences file's name */
  }
};

/* ---- About box texts ---- */

resource 'STR#' (32767, "About") {
  {
    "About Quillcast",
    "Quillcast turns a list of records and a message template into one personal message per record.",
    "It works with Outlook Express, Entourage, Eudora, Emailer, Mailsmith, PowerMail, QuickMail and Apple Mail.",
    "Records can also come from FileMaker Pro.",
    "Thank you for using Quillcast.",
    "",
    "Visit the Quillcast web site",      /* 7: the link line */
    "",
    "",
    "",
    "",
    "https://quillcast.example/",        /* 12: where the link leads */
  }
};

/* ---- Error reporting ---- */

resource 'STR#' (32765, "Fallback message") {
  {
    "Something went wrong that Quillcast has no message for",
  }
};

/*
 * Alert 32766: ^0 is the context of the error, ^1 its number, ^2 and ^3 the two messages
 * of its 'Err2' entry.
 */
resource 'ALRT' (32766, "Error") {
  {40, 40, 170, 470},
  32766,
  1
};

resource 'DITL' (32766, "Error") {
  {
    {button, {100, 360, 120, 420}, "OK"},
    {staticText, {10, 70, 90, 420}, "^0^2 (error ^1). ^3"},
  }
};

/* Messages by status: {code, "what happened", "what to do about it"}. */

resource 'Err2' (128, "Memory, resources and files") {
  {
    {-108, "There is not enough memory to finish this task",
           "Quit other applications or give the scripting host more memory, then try again."},
    {-192, "A resource that Quillcast needs could not be found",
           "Quillcast may be damaged. Please install it again."},
    {-193, "Quillcast's resource file could not be found",
           "Quillcast may be damaged. Please install it again."},
    {-199, "Quillcast's resource file is damaged",
           "Please install Quillcast again."},
    {-33, "The folder is full",
          "Remove some files from the folder and try again."},
    {-34, "The disk is full",
          "Make room on the disk by removing files you no longer need, then try again."},
    {-35, "The disk could not be found",
          "Make sure the disk is mounted and try again."},
    {-36, "A disk error occurred while reading or writing a file",
          "The disk may be damaged. Try again, or use another disk."},
    {-37, "The file name is not valid",
          "Use a shorter name without unusual characters."},
    {-39, "The file ended before all of it could be read",
          "The file may be damaged or incomplete. Try saving it again."},
    {-43, "The file could not be found",
          "Check that the file exists and that its name and folder are spelled correctly."},
    {-44, "The disk is write-protected",
          "Unlock the disk or choose another one."},
    {-45, "The file is locked",
          "Unlock the file in the Finder and try again."},
    {-47, "The file is in use",
          "Close the file in the other application and try again."},
    {-48, "A file with that name already exists",
          "Choose another name."},
    {-49, "The file is already open for writing",
          "Close the file in the other application and try again."},
    {-50, "A value passed to the system was not valid",
          "Check the values your script passes to Quillcast."},
    {-51, "A file was used after it had been closed",
          "Try again. If this keeps happening, restart the scripting host."},
    {-54, "You do not have permission to open this file",
          "Check the file's permissions, or choose another file."},
    {-61, "You do not have permission to change this file",
          "Check the file's permissions, or save to another file."},
    {-120, "The folder could not be found",
           "Check that the folder exists and that its path is spelled correctly."},
    {-5000, "The folder belongs to another user, or other users may change it",
            "Quillcast keeps its files only in folders of yours alone. Remove that folder or make it yours alone (chmod 700), then try again."},
  }
};

resource 'Err2' (129, "Applications and Apple Events") {
  {
    {-600, "The email client is not running",
           "Open the email client, or let Quillcast open it, and try again."},
    {-609, "The connection to the email client was lost",
           "The email client may have quit. Open it again and try again."},
    {-610, "The email client cannot show a dialog right now",
           "Bring the email client to the front and try again."},
    {-1700, "The email client returned data of an unexpected kind",
            "Your version of the email client may not be supported."},
    {-1701, "The email client did not return a value that Quillcast asked for",
            "Your version of the email client may not be supported."},
    {-1703, "The email client returned data of the wrong type",
            "Your version of the email client may not be supported."},
    {-1704, "A message to the email client was not formed correctly",
            "Please report this problem."},
    {-1708, "The email client did not understand a request from Quillcast",
            "Your version of the email client may not be supported."},
    {-1709, "The email client's reply was not valid",
            "Try again. If this keeps happening, restart the email client."},
    {-1711, "Waiting for the email client was cancelled",
            "Try again."},
    {-1712, "The email client did not answer in time",
            "It may be busy or showing a dialog, and may still take the message it was sent: check it before sending that message again."},
    {-1741, "The message is too large to hand to the email client",
            "Shorten the message text, its recipient lists or its attachment list, then try again."},
    {-1719, "The email client was asked for an item that does not exist",
            "Check the account or item names your script uses."},
    {-1728, "The email client could not find an item that Quillcast asked for",
            "Check that the account, mailbox or message exists in the email client."},
    {-10810, "The application could not be opened",
             "Try opening it yourself in the Finder."},
    {-10814, "The application could not be found",
             "Make sure the application is installed."},
    {1, "This email client cannot be used for a merge",
        "Choose one of the email clients that Quillcast lists."},
    {1997, "The web address could not be opened",
           "Make sure a web browser is installed, or open the address yourself."},
    {13579, "Quillcast built a message to the email client incorrectly",
            "This is a fault in Quillcast. Please report it."},
  }
};

/* ---- About box ---- */

resource 'DLOG' (32761, "About Quillcast") {
  {60, 60, 260, 440},
  1,             /* window kind: movable modal */
  invisible,
  noGoAway,
  0,
  32761,
  "About Quillcast"
};

resource 'DITL' (32761, "About Quillcast") {
  {
    {button, {165, 290, 185, 360}, "OK"},                          /* 1: OK, the default */
    {button, {165, 200, 185, 280}, "Register", disabled},          /* 2: hidden */
    {picture, {15, 20, 79, 84}, ""},                               /* 3: the logo */
    {staticText, {15, 100, 55, 360}, "Mail merge for your email client"},
    {staticText, {60, 100, 76, 360}, "", disabled},                /* 5: hidden */
    {staticText, {80, 100, 96, 360}, "", disabled},                /* 6: hidden */
    {editText, {100, 100, 116, 360}, ""},                          /* 7: hidden */
    {userItem, {125, 20, 149, 360}, ""},                           /* 8: version and link */
    {staticText, {165, 20, 185, 190}, "", disabled},               /* 9: hidden */
  }
};
