// placeholder until the main window arrives
