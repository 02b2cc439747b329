#pragma once
// WatchedControl: the controller link as the main dialog and its small dialogs use it, telling the
// settings safety net what they ask for before passing it on unchanged. The net decides from this
// alone whether the controller's working settings hold unsaved changes, so that nothing in the
// dialogs or a window backend has to.

#include <cstdint>

#include "controller/Contract.h"

namespace vornic {

class CommandWatcher {
  public:
    virtual ~CommandWatcher() = default;
    // UI thread, before the request is passed on.
    virtual void connecting(uint32_t portNumber, uint32_t baudRate) = 0;
    virtual void settingChanging() = 0;
    virtual void storing() = 0;
};

class WatchedControl final : public iTelescopeControl {
  public:
    WatchedControl(iTelescopeControl& target, CommandWatcher& watcher)
        : target_(target), watcher_(watcher) {}

    void connect(uint32_t portNumber, uint32_t baudRate) override {
        watcher_.connecting(portNumber, baudRate);
        target_.connect(portNumber, baudRate);
    }
    void disconnect() override { target_.disconnect(); }
    void startMove(uint32_t d, uint32_t speed) override { target_.startMove(d, speed); }
    void stopMove(uint32_t d) override { target_.stopMove(d); }
    void setTracking(uint32_t on) override { target_.setTracking(on); }
    void setExp(uint32_t on) override { target_.setExp(on); }
    void sendCode20() override { target_.sendCode20(); }
    void storeSettings() override {
        watcher_.storing();
        target_.storeSettings();
    }
    void sendCode22() override { target_.sendCode22(); }
    void reloadDefaults() override {
        watcher_.settingChanging();
        target_.reloadDefaults();
    }
    void setGearRatios(uint32_t ra, uint32_t de) override {
        watcher_.settingChanging();
        target_.setGearRatios(ra, de);
    }
    void setReverseFlags(uint32_t rotation, uint32_t autoguiding, uint32_t limits) override {
        watcher_.settingChanging();
        target_.setReverseFlags(rotation, autoguiding, limits);
    }
    void setMotorCurrent(uint32_t selector, uint32_t milliAmps) override {
        watcher_.settingChanging();
        target_.setMotorCurrent(selector, milliAmps);
    }
    void setDecay(uint32_t selector, uint32_t decay) override {
        watcher_.settingChanging();
        target_.setDecay(selector, decay);
    }
    void setMaxSpeeds(uint32_t ra, uint32_t de) override {
        watcher_.settingChanging();
        target_.setMaxSpeeds(ra, de);
    }
    void setAccelerations(uint32_t ra, uint32_t de) override {
        watcher_.settingChanging();
        target_.setAccelerations(ra, de);
    }
    void setDecelerations(uint32_t ra, uint32_t de) override {
        watcher_.settingChanging();
        target_.setDecelerations(ra, de);
    }
    void setOvertone(uint32_t axisMask, int32_t value) override {
        watcher_.settingChanging();
        target_.setOvertone(axisMask, value);
    }
    void setCurrentBoost(uint32_t axisMask, uint32_t first, uint32_t second) override {
        watcher_.settingChanging();
        target_.setCurrentBoost(axisMask, first, second);
    }
    void setGuidingRates(uint32_t ra, uint32_t de) override {
        watcher_.settingChanging();
        target_.setGuidingRates(ra, de);
    }
    void setPositionPair(uint32_t first, uint32_t second) override {
        target_.setPositionPair(first, second);
    }
    void applySiteSettings(const SiteSettings& settings) override {
        watcher_.settingChanging();
        target_.applySiteSettings(settings);
    }
    void measureVoltage() override { target_.measureVoltage(); }
    void initScope(uint32_t positionCode) override { target_.initScope(positionCode); }
    void defineParkPosition() override { target_.defineParkPosition(); }
    void onHeartBeat() override { target_.onHeartBeat(); }

  private:
    iTelescopeControl& target_;
    CommandWatcher& watcher_;
};

}  // namespace vornic
