// Drives the npm "onvif" client against devsim's ONVIF face: discovery, then for one device
// GetSystemDateAndTime, GetDeviceInformation and SystemReboot, each checked against what the
// fleet file says. Prints what it saw; exits non-zero on the first disagreement or client error.
//
// usage: node npm-onvif-client.js <expected device count> <ip> <user> <password> <serial> <model> <clock skew s>

'use strict';
const onvif = require('onvif');

const [want, ip, user, password, serial, model, skew] = process.argv.slice(2);

function fail(what) {
	console.error('FAIL: ' + what);
	process.exit(1);
}

function step(name, fn) {
	return new Promise((resolve) => {
		fn((err, value) => {
			if (err)
				fail(name + ': ' + (err.message || err));
			resolve(value);
		});
	});
}

(async () => {
	const cams = await step('discovery', (done) => onvif.Discovery.probe({timeout: 3000, resolve: false}, (err, list) => {
		// Unrelated datagrams would show up as errors; on this private loopback there are none.
		done(err, list);
	}));
	const addrs = cams.map((c) => c.probeMatches.probeMatch.XAddrs).sort();
	console.log('discovery: ' + cams.length + ' devices');
	addrs.forEach((a) => console.log('  ' + a));
	if (cams.length !== Number(want))
		fail('discovery found ' + cams.length + ' devices, expected ' + want);
	const mine = addrs.find((a) => new URL(a).hostname === ip);
	if (!mine)
		fail('discovery did not list ' + ip);
	const port = Number(new URL(mine).port);

	const cam = new onvif.Cam({hostname: ip, port: port, username: user, password: password, autoconnect: false});
	const time = await step('GetSystemDateAndTime', (done) => cam.getSystemDateAndTime(done));
	console.log('GetSystemDateAndTime: ' + time.toISOString());
	// The device's clock as the fleet file sets it (the client corrects its tokens by it).
	if (Math.abs(time.getTime() - Date.now() - Number(skew) * 1000) > 60000)
		fail('device clock ' + time.toISOString() + ' is not where the fleet file puts it');

	await step('connect', (done) => cam.connect(done));
	const info = await step('GetDeviceInformation', (done) => cam.getDeviceInformation(done));
	console.log('GetDeviceInformation: ' + JSON.stringify(info));
	if (info.serialNumber !== serial || info.model !== model)
		fail('device information does not match the fleet file');

	const message = await step('SystemReboot', (done) => cam.systemReboot(done));
	console.log('SystemReboot: ' + message);
	console.log('npm onvif client: all checks passed');
})();
