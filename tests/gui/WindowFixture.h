// Builds the program's windows the way the entry does, with the machine's port list and,
// where a test asks, the firmware text replaced.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Application.h"
#include "ComMessages.h"
#include "PortInfo.h"
#include "Recorder.h"

// The smallest text the image builder accepts: one data record and the end record.
inline const char* const SmallFirmware = ":0400000001020304F2\r\n:00000001FF\r\n";

class WindowTest : public ::testing::Test {
protected:
    void Create(std::vector<std::string> ports,
                std::optional<std::string> firmware = SmallFirmware) {
        TFeedback::SetApplicationTitle(InitialApplicationTitle);
        Ports = std::move(ports);
        TMainForm::TSeams seams;
        seams.ListPorts = [this](std::vector<std::string>& list) {
            if (PortListFails) {
                throw EComPort(15);
            }
            list = Ports;
        };
        seams.DescribePort = [this](const std::string& name) { return Facts(name); };
        seams.DescribePorts = [this] {
            if (PortListFails) {
                throw EComPort(15);
            }
            std::vector<TSerialPortInfo> facts;
            for (const std::string& name : Ports) {
                facts.push_back(Facts(name));
            }
            return facts;
        };
        seams.FirmwareText = std::move(firmware);
        // "Відкрити" takes the next file of FilesToChoose; none left is a cancelled dialog.
        seams.ChooseFile = [this](const std::string&) -> std::optional<std::string> {
            ++FileDialogs;
            if (FilesToChoose.empty()) {
                return std::nullopt;
            }
            std::string file = FilesToChoose.front();
            FilesToChoose.erase(FilesToChoose.begin());
            return file;
        };
        Windows = CreateApplicationWindows(std::move(seams));
    }
    TMainForm& Form() { return *Windows.MainForm; }
    TFormHelp& Help() { return *Windows.FormHelp; }
    void ShowForm() {
        Form().show();
        QApplication::processEvents();
    }

    // A port's facts: those set in PortFacts, else a port that can be opened.
    TSerialPortInfo Facts(const std::string& name) const {
        const auto found = PortFacts.find(name);
        if (found != PortFacts.end()) {
            return found->second;
        }
        TSerialPortInfo info;
        info.Name = name;
        info.DevicePath = "/dev/" + name;
        info.Access = TPortAccess::Allowed;
        return info;
    }

    TFeedbackRecorder Recorder;
    std::map<std::string, TSerialPortInfo> PortFacts;
    std::vector<std::string> Ports;
    bool PortListFails = false;
    std::vector<std::string> FilesToChoose;
    int FileDialogs = 0; // how often "Відкрити" opened its file dialog
    TApplicationWindows Windows;
};
